# GoogleTest for the test suite, as the targets GTest::gtest and GTest::gtest_main. A native
# build uses the installed package; a cross build compiles GoogleTest from the system's sources
# with the cross compiler, since no library of it is installed for the target.
if(CMAKE_CROSSCOMPILING)
  set(TABULON_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
      "GoogleTest sources, built for the target in cross builds")
  if(NOT EXISTS ${TABULON_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${TABULON_GTEST_SOURCE_DIR} "
                        "(Debian package googletest)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TABULON_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's own build defines these aliases; older releases did not.
  foreach(gtest_library gtest gtest_main)
    if(NOT TARGET GTest::${gtest_library})
      add_library(GTest::${gtest_library} ALIAS ${gtest_library})
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()
