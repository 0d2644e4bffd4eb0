#!/usr/bin/env bash
# Kill test: a run of Tabulon.exe killed with SIGKILL at any moment must never leave a torn or
# wrong list. A release folder of 2,000+ small files, a client.ini with other sections and an
# update_file.ini holding an old list is copied afresh for every run; the run is killed at a
# random moment (spread over the whole run, with extra weight around the moments the lists are
# written: just before client.ini is digested, at the end, and during the very last moments).
# After each kill both INI files must hold their old bytes or a complete, correct list; the other
# sections of client.ini must be byte-identical; each encoded copy (set_e.ini, game_e.ini,
# client_e.ini, left by a former run) must hold its old bytes or the complete copy of its source;
# a leftover temporary file must begin with a dot; and a normal run in the same folder must then
# succeed and give the files a clean run gives.
#
# Usage: tests/kill_test.sh [path/to/Tabulon.exe] [kills, default 50] [seed]
# Without a path, Tabulon.exe is built in build-kill. Prints the outcome of every kind of run and
# a closing "N passed, N failed"; exits 1 when any check failed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
exe="${1:-}"
if [ -z "$exe" ]; then
  cmake -S "$top" -B "$top/build-kill" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTABULON_BUILD_TESTS=OFF >/dev/null
  cmake --build "$top/build-kill" --target Tabulon >/dev/null
  exe="$top/build-kill/Tabulon.exe"
fi
exec python3 - "$exe" "${2:-50}" "${3:-$RANDOM}" <<'PYTHON'
import base64
import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

EXE, TRIALS, SEED = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(SEED)
URL = "http://cdn.example/game"
ENCODED = {"set_e.ini", "game_e.ini", "client_e.ini"}

CLIENT_INI = (
    b"; release settings\r\n"
    b"[updateserver]\r\nURL=" + URL.encode() + b"\r\nbackup = http://mirror.example/game\r\n\r\n"
    b"[file]\r\nvalue_count=3\r\nvalue_key0=gone.pak\r\nvalue_0=00000000000000000000000000000000\r\n"
    b"value_key1=a0000.dat\r\nvalue_1=11111111111111111111111111111111\r\n"
    b"value_key2=zz.dat\r\nvalue_2=22222222222222222222222222222222\r\n\r\n"
    b"[launcher]\r\ntitle=\xc6\xf4\xb6\xaf\xc6\xf7\r\nwidth=1024\r\n")
OLD_ENCODED = b"b2xkIGNvcHkK\r\n"  # "old copy\n", as a former run left each encoded copy
SOURCES = {"set_e.ini": "set.ini", "game_e.ini": "game.ini", "client_e.ini": "client.ini"}
UPDATE_INI = b"[file]\r\nvalue_count=2\r\nvalue_key0=gone.pak|0\r\nvalue_0=old/gone.pak\r\n" \
             b"value_key1=zz.dat|2\r\nvalue_1=old/zz.dat\r\n"


def md5(data):
    return hashlib.md5(data).hexdigest()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def encoded_copy(source):
    """The complete encoded copy of `source`: its text-mode bytes (up to the first Ctrl+Z, CR LF
    read as LF) cut into chunks of a line or 259 bytes, each cut at a NUL, one Base64 line each."""
    data = source.split(b"\x1a", 1)[0].replace(b"\r\n", b"\n")
    lines = []
    while data:
        end = data.find(b"\n")
        length = min(len(data) if end < 0 else end + 1, 259)
        chunk, data = data[:length].split(b"\0", 1)[0], data[length:]
        if not chunk:
            break
        lines.append(base64.b64encode(chunk) + b"\r\n")
    return b"".join(lines)


def make_template(root):
    """2,000 small files named so that client.ini is listed midway, then set.ini and game.ini."""
    folder = os.path.join(root, "template")
    os.mkdir(folder)
    for i in range(1000):
        for prefix in ("a", "d"):
            with open(os.path.join(folder, "%s%04d.dat" % (prefix, i)), "wb") as f:
                f.write(rng.randbytes(rng.randint(0, 4096)))
    for name, content in (("client.ini", CLIENT_INI), ("update_file.ini", UPDATE_INI),
                          ("set.ini", b"[video]\r\nwidth=800\r\n"), ("game.ini", b"[game]\nid=7\n"),
                          *((name, OLD_ENCODED) for name in ENCODED)):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)
    shutil.copy(EXE, os.path.join(folder, "Tabulon.exe"))
    return folder


def fresh_copy(template, root, name):
    folder = os.path.join(root, name)
    if os.path.exists(folder):
        shutil.rmtree(folder)
    shutil.copytree(template, folder)
    return folder


def start(folder):
    return subprocess.Popen([os.path.join(folder, "Tabulon.exe")], cwd="/",
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)


def run_to_end(folder):
    return subprocess.run([os.path.join(folder, "Tabulon.exe")], cwd="/",
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL).returncode


def split_lines(data):
    return re.split(rb"\r\n|\n|\r", data)


def sections(data):
    """Section name (lower case) -> list of its blocks, each the exact bytes from its header up to
    the next header; the bytes before the first header under None."""
    result = {}
    name, start = None, 0
    for match in re.finditer(rb"[^\r\n]*(?:\r\n|\n|\r|$)", data):
        line = match.group(0)
        if not line:
            break
        stripped = line.strip(b" \t\v\f\r\n\x1a")
        if stripped.startswith(b"[") and b"]" in stripped[1:]:
            result.setdefault(name, []).append(data[start:match.start()])
            name = stripped[1:stripped.rindex(b"]")].strip(b" \t\v\f\x1a").lower()
            start = match.start()
    result.setdefault(name, []).append(data[start:])
    return result


def file_keys(data):
    """Keys of the first [file] section as the profile read sees them: first occurrence wins."""
    keys = {}
    blocks = sections(data).get(b"file")
    if not blocks:
        return None
    for line in split_lines(blocks[0])[1:]:
        if b"=" in line:
            key, value = line.split(b"=", 1)
            keys.setdefault(key.strip(b" \t\v\f\x1a").lower(), value.strip(b" \t\v\f\x1a"))
    return keys


class Broken(Exception):
    pass


def check_list(folder, name, data, old, reference_client_digest):
    """Old bytes, or a value_count n with entries 0..n-1 all present, ascending and right for
    their files. Returns 'old' or the count."""
    if data == old:
        return "old"
    keys = file_keys(data)
    if keys is None or b"value_count" not in keys or not keys[b"value_count"].isdigit():
        raise Broken("%s: neither its old content nor a list" % name)
    count = int(keys[b"value_count"])
    previous = None
    for i in range(count):
        key, value = keys.get(b"value_key%d" % i), keys.get(b"value_%d" % i)
        if key is None or value is None:
            raise Broken("%s: entry %d of %d missing" % (name, i, count))
        if previous is not None and key <= previous:
            raise Broken("%s: entry %d out of order" % (name, i))
        previous = key
        if name == "update_file.ini":
            listed, _, digest = key.decode("latin-1").rpartition("|")
            if value.decode("latin-1") != URL + "/client/" + listed:
                raise Broken("%s: wrong address for %s" % (name, listed))
        else:
            listed, digest = key.decode("latin-1"), value.decode("latin-1")
        path = os.path.join(folder, listed)
        if listed.startswith(".") or listed in ("update_file.ini", "Tabulon.exe") \
                or not os.path.isfile(path):
            raise Broken("%s: lists %r, which is no release file" % (name, listed))
        # client.ini changes after it is digested: its digest is the one every clean run gives.
        # The encoded copies are digested before the run replaces them.
        expected = reference_client_digest if listed == "client.ini" else \
            md5(OLD_ENCODED) if listed in ENCODED else md5(read(path))
        if digest != expected:
            raise Broken("%s: wrong digest for %s" % (name, listed))
    return count


def listing(folder):
    """Every file a run would list (no dot names, not the executable or update_file.ini)."""
    return sorted(n for n in os.listdir(folder)
                  if not n.startswith(".") and n != "Tabulon.exe")


def snapshot(folder):
    return {n: read(os.path.join(folder, n)) for n in listing(folder)}


def measure(template, root):
    """Lengths of whole runs, which vary from run to run, and the moments update_file.ini is
    replaced as fractions of a run, watched by polling in other runs (polling slows a run)."""
    lengths, fractions = [], []
    for attempt in range(7):
        folder = fresh_copy(template, root, "measure")
        begin = time.monotonic()
        run_to_end(folder)
        lengths.append(time.monotonic() - begin)
    for attempt in range(3):
        folder = fresh_copy(template, root, "measure")
        target = os.path.join(folder, "update_file.ini")
        last = os.stat(target).st_ino
        moments = []
        begin = time.monotonic()
        process = start(folder)
        while process.poll() is None:
            inode = os.stat(target).st_ino
            if inode != last:
                moments.append(time.monotonic() - begin)
                last = inode
            time.sleep(0.0002)
        length = time.monotonic() - begin
        if len(moments) == 2:
            fractions.append((moments[0] / length, moments[1] / length))
    middle, final = sorted(fractions)[len(fractions) // 2] if fractions else (0.5, 0.9)
    return sorted(lengths), middle, final


def kill_time(kind, lengths, middle, final):
    """A kill time against the length of one run picked at random from `lengths`, so that the
    times follow the spread of real runs."""
    length = rng.choice(lengths)
    around = lambda fraction: max(0.0, length * rng.uniform(fraction - 0.1, fraction + 0.05))
    if kind in (0, 1):
        return rng.uniform(0, length)  # anywhere in the run
    if kind == 2:
        return around(middle)  # the lists written before client.ini is read
    if kind == 3:
        return around(final)  # the lists written at the end
    return length * rng.uniform(0.85, 1.0)  # the very last moments


def run_and_kill(folder, delay):
    """Starts a run and kills it `delay` seconds after its start. Returns False, and the run's
    length, when it ended before that."""
    begin = time.monotonic()
    process = start(folder)
    while time.monotonic() - begin < delay:
        if process.poll() is not None:
            return False, time.monotonic() - begin
        time.sleep(0.0005)
    process.send_signal(signal.SIGKILL)
    return process.wait() == -signal.SIGKILL, None


def main():
    # A memory file system when there is one: thousands of copies are made.
    root = tempfile.mkdtemp(prefix="tabulon-kill-",
                            dir="/dev/shm" if os.access("/dev/shm", os.W_OK) else None)
    try:
        template = make_template(root)
        files = len([n for n in listing(template) if n != "update_file.ini"])
        # The clean run every recovery is compared with.
        clean = fresh_copy(template, root, "clean")
        if run_to_end(clean) != 0:
            raise SystemExit("a clean run failed")
        clean_files = snapshot(clean)
        clean_keys = file_keys(clean_files["client.ini"])
        client_digest = next(
            clean_keys[b"value_%d" % i].decode() for i in range(int(clean_keys[b"value_count"]))
            if clean_keys[b"value_key%d" % i] == b"client.ini")
        lengths, middle, final = measure(template, root)
        print("kill test: %d files listed, seed %d, runs of %.1f to %.1f ms, lists written at "
              "%.0f%% and %.0f%% of a run" % (files, SEED, lengths[0] * 1000, lengths[-1] * 1000,
                                                middle * 100, final * 100))

        # Runs that end before their kill time are checked too, but only killed runs count as
        # trials; their lengths replace the longest measured ones, so kill times keep up with
        # how fast runs are now.
        outcomes, failures, kills, trial = {}, 0, 0, 0
        while kills < TRIALS and trial < 3 * TRIALS:
            delay = kill_time(kills % 5, lengths, middle, final)
            folder = fresh_copy(template, root, "trial")
            killed, length = run_and_kill(folder, delay)
            trial += 1
            if killed:
                kills += 1
            elif length is not None:
                lengths = sorted(lengths[:-1] + [length])
            try:
                states = []
                for name, old in (("update_file.ini", UPDATE_INI), ("client.ini", CLIENT_INI)):
                    states.append(check_list(folder, name, read(os.path.join(folder, name)), old,
                                             client_digest))
                now, before = sections(read(os.path.join(folder, "client.ini"))), sections(CLIENT_INI)
                for section in (None, b"updateserver", b"launcher"):
                    if now.get(section) != before[section]:
                        raise Broken("client.ini: section %r changed" % section)
                copies = 0
                for name, source in SOURCES.items():
                    data = read(os.path.join(folder, name))
                    if data == encoded_copy(read(os.path.join(folder, source))):
                        copies += 1
                    elif data != OLD_ENCODED:
                        raise Broken("%s: neither its old bytes nor a complete copy" % name)
                for name in set(os.listdir(folder)) - set(os.listdir(template)):
                    if not name.startswith("."):
                        raise Broken("leftover %r would be listed" % name)
                leftovers = [n for n in os.listdir(folder) if n.startswith(".")]

                # The recovery run. When the killed run had finished its lists, the folder is that
                # of a finished run whose encoding was cut short, and the recovery is compared with
                # a second run after a clean one, given the same encoded files.
                finished = read(os.path.join(folder, "client.ini")) == clean_files["client.ini"]
                if finished and read(os.path.join(folder, "update_file.ini")) \
                        != clean_files["update_file.ini"]:
                    raise Broken("client.ini finished before update_file.ini")
                expected = clean_files
                if finished:
                    again = fresh_copy(clean, root, "again")
                    for name in ENCODED:
                        if os.path.exists(os.path.join(again, name)):
                            os.remove(os.path.join(again, name))
                        if os.path.exists(os.path.join(folder, name)):
                            shutil.copy(os.path.join(folder, name), again)
                    if run_to_end(again) != 0:
                        raise Broken("a second clean run failed")
                    expected = snapshot(again)
                if run_to_end(folder) != 0:
                    raise Broken("the recovery run failed")
                got = snapshot(folder)
                if got != expected:
                    differing = sorted(n for n in set(got) | set(expected)
                                       if got.get(n) != expected.get(n))
                    raise Broken("the recovery run differs from a clean run in %s" % differing)
                outcome = "update_file.ini %s, client.ini %s%s%s" % (
                    states[0] if states[0] == "old" else "list of %d" % states[0],
                    states[1] if states[1] == "old" else "list of %d" % states[1],
                    "" if not finished else ", %d of 3 copies new" % copies if killed
                    else ", run complete",
                    "" if killed else " (ended before the kill)")
                if leftovers:
                    outcome += ", dot-file leftover"
                outcomes[outcome] = outcomes.get(outcome, 0) + 1
            except Broken as fault:
                failures += 1
                print("run %d (kill at %.2f ms): FAILED: %s" % (trial, delay * 1000, fault))
                keep = os.path.join(tempfile.gettempdir(), "tabulon-kill-failure-%d" % trial)
                shutil.rmtree(keep, ignore_errors=True)
                shutil.copytree(folder, keep)
                print("  folder kept in %s" % keep)

        print("outcomes of %d runs, %d of them killed:" % (trial, kills))
        for outcome, count in sorted(outcomes.items(), key=lambda item: -item[1]):
            print("  %3d  %s" % (count, outcome))
        if kills < TRIALS:
            print("only %d of %d runs could be killed before their end" % (kills, TRIALS))
            failures += 1
        print("%d passed, %d failed" % (trial - failures, failures))
        return 1 if failures else 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


sys.exit(main())
PYTHON
