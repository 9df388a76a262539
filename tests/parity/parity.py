#!/usr/bin/env python3
"""Runs the same scenarios through both real programs and compares them.

    parity.py LINUX_PROGRAM WINDOWS_PROGRAM WINE_PREFIX

LINUX_PROGRAM is the native Shuffler, WINDOWS_PROGRAM Shuffler.exe, run under
Wine in WINE_PREFIX (through scripts/wine-run.sh). Each scenario builds the
same game folder twice, runs one program in each, and compares:

- the boxes: on Linux the "Caption: text" lines on standard error; on
  Windows the user32.MessageBoxW calls in Wine's relay trace (text, caption
  and flags; the flags must be those of a stop box);
- the folders afterwards: every entry, its kind and its content;
- the log, when there is one: its bytes, line by line;
- the exit status.

Random numbers are made comparable by writing every number prefix as "#"
characters of its width ("07-Song.mp3" becomes "##-Song.mp3"); paths by
writing the game folder as "<game>" and every separator as "/". The
scenarios avoid what really differs between the file systems (letter case,
hidden entries) and keep the order of boxes fixed (at most one entry fails).
Exits non-zero when a scenario differs.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

# The scenarios: a name, the arguments ("|" between two runs in turn, with
# the two games trading their names files in between, so that each program
# reads what the other wrote), and the game folder's entries (relative
# paths; a trailing "/" makes a folder, "@" and a target a symbolic link,
# which Wine shows as a reparse point, "=" and a text a file holding that
# text), and where it is not the
# program's own (None), the name the program is given in the game folder
# (several names: a copy under each, the first one run), the entries that
# refuse every change (made immutable, which binds the superuser too; where
# that cannot be done they are left as they are), and whether the game folder
# is a small file system of its own with no room left for a new entry once it
# is made. A file without a text holds its own bare name, so that two files
# that may swap names hold the same bytes; every file is dated FILE_TIME.
SCENARIOS = [
    ("plain shuffle, ten entries", ["/NOLAUNCH"], [
        "mp3/", "mp3/07-Song.mp3", "mp3/Intro.mp3", "mp3/2001-Odyssey.mp3",
        "mp3/Song - Live.mp3", "mp3/-Prelude.mp3", "mp3/01 - Ballad.mp3",
        "mp3/Track.MP3", "mp3/notes.txt", "mp3/Caf\u00e9.mp3",
        "mp3/3-Ending.mp3", "mp3/MP3Report.txt"]),
    ("/DENUM with a collision", ["/DENUM", "/NOLAUNCH"], [
        "mp3/", "mp3/01-Song.mp3", "mp3/02-Song.mp3", "mp3/Other.mp3",
        "mp3/5-Tune.mp3"]),
    ("mp3 is a file", ["/NOLAUNCH"], ["mp3"]),
    ("mp3 is missing", ["/NOLAUNCH"], []),
    ("mp3\\temp is a file", ["/NOLAUNCH"], [
        "mp3/", "mp3/07-Song.mp3", "mp3/temp"]),
    ("mp3\\temp is a file, with the log", ["/DEBUG", "/NOLAUNCH"], [
        "mp3/", "mp3/07-Song.mp3", "mp3/temp"]),
    ("a sub-folder entry", ["/NOLAUNCH"], [
        "mp3/", "mp3/05-Live/", "mp3/05-Live/inner.mp3", "mp3/Song.mp3"]),
    ("only what is left alone", ["/NOLAUNCH"], [
        "mp3/", "mp3/MP3Report.txt", "mp3/temp/"]),
    ("names ending in a dot or a space", ["/NOLAUNCH"], [
        "mp3/", "mp3/08-ends in a dot.", "mp3/ends in a space "]),
    ("the log of one rename", ["/DEBUG", "/NOLAUNCH"], [
        "mp3/", "mp3/07-Caf\u00e9.mp3"]),
    ("mp3\\temp links elsewhere", ["/NOLAUNCH"], [
        "mp3/", "mp3/07-Song.mp3", "mp3/temp@../elsewhere", "elsewhere/",
        "elsewhere/Shuffler is moving files/",
        "elsewhere/Shuffler is moving files/Theirs.mp3"]),
    ("a temp folder of the player's", ["/NOLAUNCH"], [
        "mp3/", "mp3/Song.mp3", "mp3/temp/", "mp3/temp/parked.mp3"]),
    ("a path longer than 260 characters", ["/NOLAUNCH"], [
        "mp3/", "mp3/07-" + "x" * 240 + ".mp3", "mp3/Song.mp3"]),
    ("a log that cannot be opened", ["/DEBUG", "/NOLAUNCH"], [
        "mp3/", "mp3/Song.mp3", "Shuffler.log/"]),
    ("/LAUNCH missing.exe", ["/LAUNCH", "missing.exe"], [
        "mp3/", "mp3/Song.mp3"]),
    ("no options and no game", [], ["mp3/", "mp3/Song.mp3"]),
    ("renamed to gta3.exe", [], ["mp3/", "mp3/Song.mp3"], "gta3.exe"),
    ("copies as both games", [], ["mp3/", "mp3/Song.mp3"],
     "gta3.exe gta-vc.exe"),
    ("a music folder that refuses every change", ["/NOLAUNCH"], [
        "mp3/", "mp3/07-Song.mp3", "mp3/Intro.mp3", "mp3/Track.MP3"],
     None, ["mp3"]),
    ("a write-protected music folder with a temp", ["/NOLAUNCH"], [
        "mp3/", "mp3/07-Song.mp3", "mp3/Intro.mp3", "mp3/temp/"],
     None, ["mp3"]),
    ("one locked song, with an empty temp there", ["/NOLAUNCH"], [
        "mp3/", "mp3/07-Song.mp3", "mp3/Intro.mp3", "mp3/Track.MP3",
        "mp3/2001-Odyssey.mp3", "mp3/temp/"],
     None, ["mp3/07-Song.mp3"]),
    ("no room on the disk for temp", ["/NOLAUNCH"], [
        "mp3/", "mp3/07-Song.mp3", "mp3/Intro.mp3", "mp3/Track.MP3"],
     None, [], True),
    ("/KEEPNAMES twice, then /RESTORE", [
        "/UNIQUE", "/KEEPNAMES", "/NOLAUNCH", "|", "/UNIQUE", "/KEEPNAMES",
        "/NOLAUNCH", "|", "/RESTORE", "/DEBUG", "/NOLAUNCH"], [
        "mp3/", "mp3/07-Song.mp3", "mp3/Intro.mp3", "mp3/2001-Odyssey.mp3",
        "mp3/01 - Ballad.mp3", "mp3/track.MP3", "mp3/Caf\u00e9.mp3",
        "mp3/Live/", "mp3/MP3Report.txt"]),
    ("/KEEPNAMES with a names file cut short", ["/KEEPNAMES", "/NOLAUNCH"], [
        "mp3/", "mp3/07-Song.mp3", "mp3/Intro.mp3",
        "Shuffler.names=Shuffler names 1\r\nIntro.mp3\t9\t1700000000\r\n"]),
    ("/RESTORE to a name a folder holds", ["/RESTORE", "/DEBUG", "/NOLAUNCH"], [
        "mp3/", "mp3/1-Tune.mp3", "mp3/Tune.mp3/", "mp3/2-Intro.mp3",
        "Shuffler.names=Shuffler names 1\r\nTune.mp3\t8\t1700000000\r\n"
        "Intro.mp3\t9\t1700000000\r\nEnd\r\n"]),
]

RUN_LIMIT_SECONDS = 120
STOP_BOX_FLAGS = 0x12010  # MB_OK | MB_ICONSTOP | MB_TASKMODAL | MB_SETFOREGROUND
LOG_NAME = "Shuffler.log"
NAMES_NAME = "Shuffler.names"
NAMES_HEADER = b"Shuffler names 1\r\n"
FILE_TIME = 1700000000


def bare_name(name):
    match = re.match(r"\d+-(.*)$", name, re.S)
    return match.group(1) if match else name


def make_game(folder, entries, program, program_names, full=False):
    """Makes the game folder; False when a full one cannot be made here."""
    os.makedirs(folder)
    if full and subprocess.run(
            ["mount", "-t", "tmpfs", "-o", "size=64m,nr_inodes=64", "tmpfs",
             folder], capture_output=True, check=False,
            timeout=RUN_LIMIT_SECONDS).returncode != 0:
        return False
    for entry in entries:
        path = os.path.join(folder, entry.rstrip("/"))
        if "@" in entry:
            path, target = path.split("@")
            os.symlink(target, path)
        elif entry.endswith("/"):
            os.makedirs(path)
        else:
            path, _, text = path.partition("=")
            with open(path, "w", encoding="utf-8", newline="") as file:
                file.write(text if "=" in entry
                           else bare_name(os.path.basename(path)))
            os.utime(path, (FILE_TIME, FILE_TIME))
    for name in program_names.split():
        shutil.copy2(program, os.path.join(folder, name))
    for number in range(64 if full else 0):
        try:
            with open(os.path.join(folder, "filler%02d" % number), "w"):
                pass
        except OSError:
            break  # no inode left: nothing new can be made
    return True


def lock(game, folders, locked):
    """Makes `folders` of `game` refuse every change, or change again."""
    for folder in folders:
        subprocess.run(["chattr", "+i" if locked else "-i",
                        os.path.join(game, folder)], capture_output=True,
                       check=False, timeout=RUN_LIMIT_SECONDS)


def unmount(*folders):
    for folder in folders:
        subprocess.run(["umount", folder], capture_output=True, check=False,
                       timeout=RUN_LIMIT_SECONDS)


def trade_names_files(game, other):
    """Each of the two games gets the names file that the other holds."""
    paths = [os.path.join(folder, NAMES_NAME) for folder in (game, other)]
    if all(os.path.isfile(path) for path in paths):
        os.replace(paths[0], paths[0] + ".traded")
        os.replace(paths[1], paths[0])
        os.replace(paths[0] + ".traded", paths[1])


def names_file_form(game):
    """Whether the names file, when there is one, is CR LF text that begins
    with its header."""
    path = os.path.join(game, NAMES_NAME)
    if not os.path.isfile(path):
        return True
    with open(path, "rb") as file:
        data = file.read()
    return data.startswith(NAMES_HEADER) and data.endswith(b"\r\n") and \
        data.count(b"\n") == data.count(b"\r\n")


def as_made(made, state):
    """`state` where it should be the folder as it was made, with the names
    file that a run wrote left out."""
    if any(path == NAMES_NAME for path, _, _ in made):
        return state
    return [entry for entry in state if entry[0] != NAMES_NAME]


def hide_numbers(text):
    """Writes every number prefix of a name as "#" characters."""
    return re.sub(r"(^|/)(\d+)-", lambda m: m.group(1) + "#" * len(m.group(2))
                  + "-", text, flags=re.M)


def folder_state(game, program_names):
    """Every entry under `game` but the programs and the log, normalised."""
    state = []
    for root, folders, files in os.walk(game):
        relative = os.path.relpath(root, game)
        for name in folders:
            state.append((hide_numbers(os.path.normpath(
                os.path.join(relative, name))), "folder", ""))
        for name in files:
            if relative == "." and name in program_names.split() + [LOG_NAME]:
                continue
            with open(os.path.join(root, name), "rb") as file:
                content = file.read().decode("utf-8", "replace")
            if relative == "." and name == NAMES_NAME:
                # The records come in the order the folder lists its
                # entries, which differs between the file systems.
                lines = content.split("\r\n")
                content = "\r\n".join(lines[:1] + sorted(lines[1:-2]) +
                                        lines[-2:])
            state.append((hide_numbers(os.path.normpath(
                os.path.join(relative, name))), "file", content))
    return sorted(state)


def log_lines(game, game_text, separator):
    """The log's lines, normalised; None when there is no log."""
    path = os.path.join(game, LOG_NAME)
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as file:
        text = file.read().decode("cp1252", "replace")
    lines = text.split("\r\n")
    if lines[-1] != "":
        lines.append("(no CR LF at the end)")
    return [normalise(line, game_text, separator) for line in lines[:-1]]


def normalise(text, game_text, separator):
    text = text.replace(game_text, "<game>").replace("\r\n", "\n")
    if separator != "/":
        text = text.replace(separator, "/")
    return hide_numbers(text)


def run_linux(program_names, game, arguments):
    result = subprocess.run([os.path.join(game, program_names.split()[0])]
                            + arguments, cwd=os.path.dirname(game),
                            capture_output=True, timeout=RUN_LIMIT_SECONDS)
    boxes = []
    for line in result.stderr.decode("utf-8", "replace").split("\n")[:-1]:
        caption, colon, text = line.partition(": ")
        if colon and caption in ("Error", "Shuffler"):
            boxes.append([caption, text])
        elif boxes:
            boxes[-1][1] += "\n" + line
        else:
            boxes.append(["(not a box)", line])
    return result.returncode, [
        (caption, normalise(text, game, "/"), "stop box")
        for caption, text in boxes]


WINE_STRING = r'L"((?:[^"\\]|\\.)*)"(\.\.\.)?'
MESSAGE_BOX_CALL = re.compile(
    r"Call user32\.MessageBoxW\([0-9a-f]+,[0-9a-f]+ " + WINE_STRING +
    r",[0-9a-f]+ " + WINE_STRING + r",([0-9a-f]+)\)")


def wine_text(escaped, truncated):
    """The text of a string in Wine's trace."""
    if truncated:
        raise RuntimeError("a box text was cut short in the trace; "
                           "use a shorter folder")
    units = bytearray()
    i = 0
    while i < len(escaped):
        c = escaped[i]
        if c == "\\":
            following = escaped[i + 1]
            if following in "\\\"":
                code, i = ord(following), i + 2
            elif following in "nrt":
                code, i = {"n": 10, "r": 13, "t": 9}[following], i + 2
            else:
                code, i = int(escaped[i + 1:i + 5], 16), i + 5
        else:
            code, i = ord(c), i + 1
        units += code.to_bytes(2, "little")
    return units.decode("utf-16-le", "replace")


def run_windows(wine_run, prefix, program_names, game, arguments):
    environment = dict(os.environ, SHUFFLER_WINEDEBUG="+relay")
    result = subprocess.run(
        [wine_run, prefix, os.path.join(game, program_names.split()[0])]
        + arguments, cwd=os.path.dirname(game), env=environment,
        capture_output=True, timeout=RUN_LIMIT_SECONDS)
    game_text = "Z:" + game.replace("/", "\\")
    boxes = []
    for line in result.stderr.decode("utf-8", "replace").split("\n"):
        if "Call user32.MessageBoxW(" not in line:
            continue
        match = MESSAGE_BOX_CALL.search(line)
        if not match:
            boxes.append(("(unreadable trace line)", line, ""))
            continue
        text = wine_text(match.group(1), match.group(2))
        caption = wine_text(match.group(3), match.group(4))
        flags = int(match.group(5), 16)
        boxes.append((caption, normalise(text, game_text, "\\"),
                      "stop box" if flags == STOP_BOX_FLAGS
                      else "flags %#x" % flags))
    return result.returncode, boxes, game_text


def show(label, value):
    if isinstance(value, list):
        print("    %s:" % label)
        for item in value:
            print("      %r" % (item,))
        if not value:
            print("      (none)")
    else:
        print("    %s: %r" % (label, value))


def main():
    if len(sys.argv) != 4:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    linux_program, windows_program, prefix = (
        os.path.abspath(path) for path in sys.argv[1:])
    wine_run = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                            "..", "..", "scripts", "wine-run.sh")
    # The relay trace shows the boxes only, so that it stays short.
    subprocess.run([wine_run, prefix, "reg", "add",
                    "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude",
                    "/t", "REG_SZ", "/d", "user32.MessageBoxW", "/f"],
                   check=True, capture_output=True, timeout=RUN_LIMIT_SECONDS)

    failed = 0
    # A short root: Wine's trace cuts strings of about 300 characters.
    root = tempfile.mkdtemp(prefix="par", dir="/tmp")
    try:
        for number, scenario in enumerate(SCENARIOS):
            name, arguments, entries = scenario[:3]
            linux_name, windows_name = (
                (scenario[3], scenario[3]) if len(scenario) > 3 and
                scenario[3] else (os.path.basename(linux_program),
                                  os.path.basename(windows_program)))
            locked = scenario[4] if len(scenario) > 4 else []
            full = len(scenario) > 5 and scenario[5]
            linux_game = os.path.join(root, "l%d" % number)
            windows_game = os.path.join(root, "w%d" % number)
            if not (make_game(linux_game, entries, linux_program, linux_name,
                              full) and
                    make_game(windows_game, entries, windows_program,
                              windows_name, full)):
                print("parity SKIPPED: %s: no file system of its own" % name)
                unmount(linux_game, windows_game)
                continue
            for game in (linux_game, windows_game):
                lock(game, locked, True)

            made = folder_state(linux_game, linux_name)
            linux_status, linux_boxes, windows_status, windows_boxes = (
                [], [], [], [])
            last_boxes = {}
            runs = " ".join(arguments).split("|")
            for index, words in enumerate(runs):
                if index:
                    trade_names_files(linux_game, windows_game)
                status, boxes = run_linux(linux_name, linux_game,
                                          words.split())
                linux_status.append(status)
                linux_boxes += boxes
                last_boxes[linux_game] = boxes
                status, boxes, windows_text = run_windows(
                    wine_run, prefix, windows_name, windows_game,
                    words.split())
                windows_status.append(status)
                windows_boxes += boxes
                last_boxes[windows_game] = boxes
            for game in (linux_game, windows_game):
                lock(game, locked, False)
            compared = [
                ("boxes", linux_boxes, windows_boxes),
                ("folder", folder_state(linux_game, linux_name),
                 folder_state(windows_game, windows_name)),
                ("log", log_lines(linux_game, linux_game, "/"),
                 log_lines(windows_game, windows_text, "\\")),
                ("exit status", linux_status, windows_status),
            ]
            # A last run that restores and says nothing gives every name
            # back; a box about the names file tells that nothing was renamed
            # and the file was left as it was.
            for side, game, game_name in (
                    ("Linux", linux_game, linux_name),
                    ("Windows", windows_game, windows_name)):
                compared.append(("names file form (%s)" % side, True,
                                 names_file_form(game)))
                boxes = last_boxes[game]
                if ("/RESTORE" in runs[-1].split() and not boxes) or any(
                        "names file" in box[1] for box in boxes):
                    compared.append((
                        "folder as made (%s)" % side, made,
                        as_made(made, folder_state(game, game_name))))
            if full:
                unmount(linux_game, windows_game)
            differences = [item for item in compared if item[1] != item[2]]
            if differences:
                failed += 1
                print("parity FAILED: %s (arguments %s)" % (name, arguments))
                for what, linux, windows in differences:
                    print("  %s differ" % what)
                    show("Linux", linux)
                    show("Windows", windows)
            else:
                print("parity ok: %s: %d box(es), %d entries%s" % (
                    name, len(linux_boxes), len(compared[1][1]),
                    ", log of %d line(s)" % len(compared[2][1])
                    if compared[2][1] is not None else ""))
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print("parity: %d scenarios, %d differ" % (len(SCENARIOS), failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
