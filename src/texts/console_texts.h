// The console texts of a run, as GBK (code page 936) bytes written unchanged. They sit apart
// from every unit that prints one, since several units print the same text; app/, inilist/ and
// encode/ include them, and they include nothing. They are spelled
// as escaped bytes so that no editor or compiler character set can alter them; each carries its
// Chinese text in the comment above it. Constants only: any thread may read them.
#pragma once

namespace texts {

// 初始化配置文件信息......
inline constexpr char kInitializing[] =
    "\xb3\xf5\xca\xbc\xbb\xaf\xc5\xe4\xd6\xc3\xce\xc4\xbc\xfe\xd0\xc5\xcf\xa2......\n";

// 开始搜索文件......
inline constexpr char kSearchStarted[] = "\xbf\xaa\xca\xbc\xcb\xd1\xcb\xf7\xce\xc4\xbc\xfe......\n";

// %d::%s正在写入......   (file counter, full path)
inline constexpr char kFileStarted[] = "%d::%s\xd5\xfd\xd4\xda\xd0\xb4\xc8\xeb......\n";

// ===>>>>>>%s写入完成,MD5:%s......   (entry name, digest)
inline constexpr char kFileDone[] = "===>>>>>>%s\xd0\xb4\xc8\xeb\xcd\xea\xb3\xc9,MD5:%s......\n";

// ===>>>>>>%s读取失败,未写入列表......   (entry name)
inline constexpr char kFileUnreadable[] =
    "===>>>>>>%s\xb6\xc1\xc8\xa1\xca\xa7\xb0\xdc,\xce\xb4\xd0\xb4\xc8\xeb\xc1\xd0\xb1\xed......\n";

// ===>>>>>>%s文件名无法写入列表,已跳过......   (entry name)
inline constexpr char kNameRefused[] =
    "===>>>>>>%s\xce\xc4\xbc\xfe\xc3\xfb\xce\xde\xb7\xa8\xd0\xb4\xc8\xeb\xc1\xd0\xb1\xed,"
    "\xd2\xd1\xcc\xf8\xb9\xfd......\n";

// 写入%s失败......   (path of the file that could not be written)
inline constexpr char kWriteFailed[] = "\xd0\xb4\xc8\xeb%s\xca\xa7\xb0\xdc......\n";

// %s无法打开,已跳过编码......   (path of a configuration file that could not be opened)
inline constexpr char kSourceUnopenable[] =
    "%s\xce\xde\xb7\xa8\xb4\xf2\xbf\xaa,\xd2\xd1\xcc\xf8\xb9\xfd\xb1\xe0\xc2\xeb......\n";

// 无法取得程序所在目录,未写入任何文件......
inline constexpr char kNoModuleDirectory[] =
    "\xce\xde\xb7\xa8\xc8\xa1\xb5\xc3\xb3\xcc\xd0\xf2\xcb\xf9\xd4\xda\xc4\xbf\xc2\xbc,"
    "\xce\xb4\xd0\xb4\xc8\xeb\xc8\xce\xba\xce\xce\xc4\xbc\xfe......\n";

// 无法列出目录%s,未写入任何文件......   (path of the folder)
inline constexpr char kFolderUnlistable[] =
    "\xce\xde\xb7\xa8\xc1\xd0\xb3\xf6\xc4\xbf\xc2\xbc%s,"
    "\xce\xb4\xd0\xb4\xc8\xeb\xc8\xce\xba\xce\xce\xc4\xbc\xfe......\n";

// 存在多个仅大小写不同的%s,均未写入......   (a name the tool knows, matched by several entries
// whose names differ only in letter case)
inline constexpr char kSeveralSpellings[] =
    "\xb4\xe6\xd4\xda\xb6\xe0\xb8\xf6\xbd\xf6\xb4\xf3\xd0\xa1\xd0\xb4\xb2\xbb\xcd\xac\xb5\xc4%s,"
    "\xbe\xf9\xce\xb4\xd0\xb4\xc8\xeb......\n";

// 文件写入已经完成,按任意键关闭
inline constexpr char kRunSucceeded[] =
    "\xce\xc4\xbc\xfe\xd0\xb4\xc8\xeb\xd2\xd1\xbe\xad\xcd\xea\xb3\xc9,"
    "\xb0\xb4\xc8\xce\xd2\xe2\xbc\xfc\xb9\xd8\xb1\xd5\n";

// 文件写入已经失败,按任意键关闭
inline constexpr char kRunFailed[] =
    "\xce\xc4\xbc\xfe\xd0\xb4\xc8\xeb\xd2\xd1\xbe\xad\xca\xa7\xb0\xdc,"
    "\xb0\xb4\xc8\xce\xd2\xe2\xbc\xfc\xb9\xd8\xb1\xd5\n";

}  // namespace texts
