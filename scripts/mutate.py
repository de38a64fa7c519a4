#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A small mutation runner: puts one realistic fault at a time into the core (model/,
merge/, smtp/, mailing/), builds, runs the tests and says whether they noticed.

    scripts/mutate.py                      every fault, every test
    scripts/mutate.py --tests '^(Csv|FormatRoundTrip)'   limit the tests (ctest -R)
    scripts/mutate.py --programs '^(model|merge)_'       the tests of some test programs
    scripts/mutate.py --only 3,7 --timeout 300
    scripts/mutate.py --list               the faults, and whether each still applies

Each fault is a text patch applied in place to one source file and always undone (also
after Ctrl+C; a run that was killed outright is undone at the start of the next one).
The build is a separate Debug build without sanitizers in build/mutate (ccache makes
the rebuilds short). Only the test programs the chosen tests need are rebuilt.
A fault is "killed" when a test fails or the tests time out, "survived" when all pass;
a fault whose build fails does not count. Not part of CI: run it by hand.
"""
import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "mutate")
BACKUP = os.path.join(BUILD, "mutant-backup.json")

# (file, text in the file, what it becomes, the fault in words). The text must occur
# exactly once in the file.
MUTANTS = [
    ("merge/Compose.cpp", "const std::size_t blank = line.rfind(' ', W - 1);",
     "const std::size_t blank = line.rfind(' ', W);",
     "wrapping: a blank one past the width is taken as the cut"),
    ("merge/Compose.cpp", "keep = W - 1; // no blank", "keep = W; // no blank",
     "wrapping: a line without blanks is cut one character late"),
    ("smtp/DialogueData.cpp",
     "linePart = !rest.empty() && rest[0] == '.' ? LinePart::RestWithDot : LinePart::Rest;",
     "linePart = LinePart::Rest;",
     "dot-stuffing: a line starting with '.' goes out unstuffed"),
    ("merge/Encoding.cpp", "if ((b >= 33 && b <= 126 && b != '=') || (blank && !last))",
     "if ((b >= 33 && b <= 126 && b != '=') || blank)",
     "quoted-printable: a blank at a line end is left as it is"),
    ("merge/Encoding.cpp", "const std::size_t limit = last ? kWidth : kWidth - 1;",
     "const std::size_t limit = kWidth;",
     "quoted-printable: the soft break's '=' pushes a line to 77 characters"),
    ("merge/Encoding.cpp", "if (cur.empty() && (token == \"-\" || token == \".\")) {",
     "if (cur.empty() && token == \"-\") {",
     "quoted-printable: a line starting with '.' is not protected"),
    ("merge/Encoding.cpp", "b == '!' || b == '*' || b == '+' || b == '-' || b == '/')",
     "b == '!' || b == '*' || b == '+' || b == '-' || b == '/' || b == '_')",
     "RFC 2047: '_' is written as itself and reads as a blank"),
    ("merge/Encoding.cpp", "const std::size_t n = CharLength(text, i, utf8);",
     "const std::size_t n = 1;",
     "RFC 2047: a UTF-8 character may be split over two encoded-words"),
    ("merge/Encoding.cpp", "if (c == '\"' || c == '\\\\') out += '\\\\';", "if (c == '\"') out += '\\\\';",
     "quoted strings: a backslash is not escaped"),
    ("merge/Encoding.cpp", "if (b >= 0x20 && b != 0x7F) clean += c;", "clean += c;",
     "file names: control characters stay in the parameter"),
    ("model/CsvFile.cpp", "v.find_first_of(\",;\\\"\\r\\n\")", "v.find_first_of(\",;\\r\\n\")",
     "CSV: a value with a double quote is written unquoted"),
    ("model/CsvFile.cpp", "if (c == '\"') out += '\"';", "",
     "CSV: quotes inside a quoted value are not doubled"),
    ("model/CsvFile.cpp", "v.find_first_of(\",;\\\"\\r\\n\")", "v.find_first_of(\",;\\\"\\n\")",
     "CSV: a value with a lone CR is written unquoted"),
    ("model/CsvFile.cpp", " || v.starts_with(kUtf8Bom);", ";",
     "CSV: a first field name starting with a byte order mark is written unquoted"),
    ("model/RunResults.cpp", "if (u < 0x20 || c == '%' || u == 0x7F) {", "if (u < 0x20 || u == 0x7F) {",
     "results file: '%' in a name is not escaped"),
    ("model/RunResults.cpp",
     "if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {",
     "if (s[i] == '%' && i + 3 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {",
     "results file: an escape at the very end of a name is not read"),
    ("model/SafeFile.cpp", "if (f.ok() && calls.fsync(fd) != 0) f.set(errno);", "",
     "atomic save: the data is not flushed before the rename"),
    ("model/SafeFile.cpp", "if (f.ok() && calls.rename(tmp.c_str(), target.c_str()) != 0) f.set(errno);",
     "if (calls.rename(tmp.c_str(), target.c_str()) != 0) f.set(errno);",
     "atomic save: a failed write still replaces the file"),
    ("model/SafeFile.cpp", "            calls.unlink(tmp.c_str());\n", "",
     "atomic save: a failed save leaves its temporary file behind"),
    ("model/SafeFile.cpp", "const std::string tmp = TempNameFor(target, rng);",
     "const std::string tmp = target; ::unlink(target.c_str());",
     "atomic save: the file is rewritten where it stands"),
    ("model/Settings.cpp", "return changedByRead ? \"\\\"\" + value + \"\\\"\" : value;", "return value;",
     "settings: blanks at the ends of a value are not protected by quotes"),
    ("model/Settings.cpp", "if (v.size() >= 2 && v.front() == '\"' && v.back() == '\"')",
     "if (v.size() > 2 && v.front() == '\"' && v.back() == '\"')",
     "settings: an empty quoted value reads as two quotes"),
    ("model/MailFile.cpp", "if (count < line.size() && line[count] == ' ') ++count;",
     "while (count < line.size() && line[count] == ' ') ++count;",
     "mail file: every blank after the colon is dropped"),
    ("model/TextFile.cpp", "else if (piece[i + 1] == '\\n')\n                    ++i;", "",
     "text files: CR LF ends two lines"),
    ("model/DatabaseFile.cpp", "if (c != ' ') out += c;", "if (c != ' ' && c != '.') out += c;",
     "database: dots are dropped from e-mail addresses"),
    ("smtp/SmtpCommands.h", "if (code / 100 == 4) return rule.temporary;",
     "if (code / 100 == 4 || code == 550) return rule.temporary;",
     "replies: a permanent refusal (550) counts as temporary"),
    ("smtp/SmtpCommands.h", "return code / 100 == 2 && code != 220 && code != 221;",
     "return code / 100 == 2;",
     "replies: a greeting or farewell counts as accepting the message"),
    ("merge/Address.cpp", "|| s.find(\"..\") != std::string_view::npos)", ")",
     "address check: two dots in a row pass"),
    ("merge/Address.cpp", "s.front() == '.' || s.back() == '.' ||", "s.front() == '.' ||",
     "address check: a dot at the end of the local part passes"),
    ("merge/Mime.cpp", "line.substr(0, kBoundary.size() + 2) == \"--partbound\")",
     "line == \"--partbound\")",
     "boundary: only the exact boundary line in a text file is noticed"),
    ("merge/Compose.cpp", "return line.rfind(\"--partbound\", 0) == 0;",
     "return line == \"--partbound\";",
     "boundary: only the exact boundary line in the body is noticed"),
    ("merge/Mime.cpp", "if (ext == \"jpg\" || ext == \"jpeg\") return \"image/jpeg\";",
     "if (ext == \"jpg\") return \"image/jpeg\";",
     "content types: .jpeg goes as octet-stream"),
    ("merge/Mime.cpp", "        *o++ = '=';\n        *o++ = '=';\n", "        *o++ = '=';\n",
     "base64: one padding character missing"),
    ("merge/Merge.cpp", "if (len > index_.longestName()) return false;",
     "if (len >= index_.longestName()) return false;",
     "merge: the longest field name is never replaced"),
    ("merge/Encoding.cpp", "if (text[i] == '\\r' && i + 1 < text.size() && text[i + 1] == '\\n') ++i;", "",
     "one-line values: CR LF becomes two blanks"),
    ("model/RunResults.cpp",
     "it->second != Outcome::Accepted &&\n            it->second != Outcome::MaybeDelivered)",
     "it->second != Outcome::Accepted)",
     "results file: a message that may have been delivered is sent again"),
    ("model/Settings.cpp", "        if (SameName(text, word)) return word;\n    return text;",
     "        if (SameName(text, word)) return word;\n    return key.words.front();",
     "settings: an unknown word (security=tsl) reads as the default, plain text"),
    ("merge/Mime.cpp", "        lines.erase(cte);\n", "",
     "MIME: the text's transfer encoding stays on the multipart header too"),
    ("merge/SendCheck.cpp", "byAddress.try_emplace(Lower(e->email()))", "byAddress.try_emplace(e->email())",
     "check before sending: an address repeated in other letter case is not noticed"),
    ("merge/SendCheck.cpp", "if (count > line.written)", "if (count > line.written + 1)",
     "check before sending: a value that adds one address to a Cc line goes unnoticed"),
    ("merge/Fallback.cpp", "FindFallback(text, open); p && p->begin == open)",
     "FindFallback(text, open); p)",
     "check before sending: a broken fallback before a good one on its line goes unnoticed"),
    ("merge/Mime.cpp", "    if (ValuesChooseWholePath(path)) {\n", "    if (false) {\n",
     "attachments: a value may pick a hidden file through a path it chooses whole"),
    ("mailing/RunLog.cpp", "        saved_ = lines_.size();\n", "",
     "run log: every save appends the session's earlier lines again"),
    ("smtp/SmtpReply.cpp", "const std::size_t nl = reply.rfind('\\n');",
     "const std::size_t nl = reply.find('\\n');",
     "replies: the code of a multi-line reply is read from its first line"),
    ("model/DatabaseEditing.cpp", "    entry.keepOwnCopiesOf(k);\n", "",
     "editing: a value under \"Name\" also renames the person it was loaded as"),
    ("model/DatabaseDocument.cpp", "            feedCount(v.size());\n", "",
     "unsaved changes: a letter moved into the next value goes unnoticed"),
    ("merge/Preparation.cpp", "        node.copyRecipients.clear();\n", "",
     "test mail: the person's Cc and Bcc addresses get it too"),
    ("mailing/MailingObserver.h", "return !startError.empty() || accepted < recipients;",
     "return errorsOccurred || !startError.empty() || accepted < recipients;",
     "exit status: a connection lost on the way fails a run that delivered everything"),
    ("merge/Mime.cpp", "|| StampOf(sb) != stamp_) return ChangedText(path_);",
     "|| static_cast<std::uint64_t>(sb.st_size) != stamp_.size) return ChangedText(path_);",
     "own attachments: a file replaced by one of the same size passes the check"),
    ("merge/Mime.cpp", "if (in_.stamp() != stamp) throw", "if (in_.size() != stamp.size) throw",
     "own attachments: the reader sends a same-size file put in place after the check"),
    ("model/VisibleText.cpp", "(keepLines && c == '\\r' && next == '\\n')", "(keepLines && c == '\\r')",
     "outside words: a CR inside a reply line reaches the terminal and the run log"),
    ("merge/StandIns.cpp", "if (IsKeptScheme(SchemeOf(v.text)))", "if (true)",
     "Markdown: an autolink made of a value keeps any scheme"),
    ("merge/StandIns.cpp",
     "if (IsAddressAttribute(Lower(name)) && !IsKeptScheme(SchemeOf(address))) {",
     "if (IsAddressAttribute(Lower(name)) && SchemeOf(address) == \"javascript\") {",
     "Markdown: a link address made with a value keeps any scheme but javascript:"),
    ("merge/StandIns.cpp", "            out_ += \"&lt;\";\n            ++i_;",
     "            out_ += '<';\n            ++i_;",
     "raw HTML: a '<' before a value stays raw, and the value becomes a tag"),
    ("merge/Formatted.cpp", "if (HoldsControl(src.decoded) && SchemeOf(src.decoded).empty() &&",
     "if (false &&", "inline images: a source with %00 passes the check and attaches another file"),
    ("merge/Encoding.cpp", "if (b <= 0x20 || b >= 0x7F ||", "if (b < 0x20 || b > 0x7F ||",
     "List- URLs: a blank in a value stays raw"),
    ("merge/Compose.cpp", "inserted = PercentEncodeUrl(OneLine(v));", "inserted = OneLine(v);",
     "List- URLs: a value's '>' ends the URL and adds another"),
    ("model/CsvFile.cpp", "    for (std::size_t r = 1; r < rows.size(); ++r) {",
     "    for (std::size_t r = 0; r < rows.size(); ++r) {",
     "CSV: the header row becomes a person too"),
    ("model/DatabaseDocument.cpp", "HoldsAddress(FirstCsvRow(path)) ? DatabaseFormat::Program",
     "!HoldsAddress(FirstCsvRow(path)) ? DatabaseFormat::Program",
     "CSV: a header row is read as a person of the program's format"),
    ("merge/FieldSuggestion.cpp", "row[j] = std::min(row[j], twoBack[j - 2] + 1);", "",
     "suggestions: two swapped letters ([nmae]) count as two slips"),
]


def run(cmd, timeout=None, quiet=True):
    """Exit status of cmd; None when it ran out of time (its whole group is stopped)."""
    out = subprocess.DEVNULL if quiet else None
    proc = subprocess.Popen(cmd, cwd=ROOT, stdout=out, stderr=out, start_new_session=True)
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        return None


def restore_backup():
    """Undoes a fault left in place by a run that was killed."""
    if not os.path.exists(BACKUP):
        return
    with open(BACKUP) as f:
        saved = json.load(f)
    with open(os.path.join(ROOT, saved["file"]), "w") as f:
        f.write(saved["text"])
    os.remove(BACKUP)
    print("restored %s from an interrupted run" % saved["file"])


class Applied:
    """One fault in place for the duration of a with block, undone whatever happens."""

    def __init__(self, mutant):
        self.path = os.path.join(ROOT, mutant[0])
        self.mutant = mutant

    def __enter__(self):
        with open(self.path) as f:
            self.original = f.read()
        with open(BACKUP, "w") as f:
            json.dump({"file": self.mutant[0], "text": self.original}, f)
        with open(self.path, "w") as f:
            f.write(self.original.replace(self.mutant[1], self.mutant[2], 1))
        return self

    def __exit__(self, *exc):
        with open(self.path, "w") as f:
            f.write(self.original)
        os.remove(BACKUP)
        return False


def status(mutant):
    path = os.path.join(ROOT, mutant[0])
    if not os.path.exists(path):
        return "missing file"
    with open(path) as f:
        count = f.read().count(mutant[1])
    return "ok" if count == 1 else "stale (text found %d times)" % count


def selected_tests(regex, programs_regex):
    """The test programs (targets) of the tests that match, and a ctest regular
    expression for exactly those tests."""
    cmd = ["ctest", "--show-only=json-v1"] + (["-R", regex] if regex else [])
    listing = json.loads(subprocess.run(cmd, cwd=BUILD, capture_output=True, text=True,
                                        check=True).stdout)
    chosen = [t for t in listing["tests"] if t.get("command") and
              re.search(programs_regex or "", os.path.basename(t["command"][0]))]
    programs = sorted({os.path.basename(t["command"][0]) for t in chosen})
    if programs_regex:
        regex = "^(" + "|".join(re.escape(t["name"]) for t in chosen) + ")$"
    return programs, regex, len(chosen)


def build(targets, timeout):
    cmd = ["cmake", "--build", BUILD, "-j2"] + (["--target"] + targets if targets else [])
    return run(cmd, timeout=timeout) == 0


def test(regex, timeout):
    cmd = ["ctest", "--test-dir", BUILD, "-j2", "--stop-on-failure", "--timeout", "300"]
    cmd += ["-R", regex] if regex else []
    return run(cmd, timeout=timeout)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--tests", help="only the tests that match this ctest regular expression")
    ap.add_argument("--programs",
                    help="only the tests of the test programs whose name matches, e.g. '^(model|merge)_'")
    ap.add_argument("--timeout", type=int, default=900, help="seconds for the tests of a fault")
    ap.add_argument("--only", help="comma-separated fault numbers")
    ap.add_argument("--list", action="store_true", help="list the faults and stop")
    args = ap.parse_args()

    numbers = range(1, len(MUTANTS) + 1)
    if args.only:
        numbers = [int(n) for n in args.only.split(",")]
    if args.list:
        for n in numbers:
            m = MUTANTS[n - 1]
            print("%2d  %-24s %-28s %s" % (n, m[0], status(m), m[3]))
        return 0

    os.makedirs(BUILD, exist_ok=True)
    restore_backup()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))
    os.environ["QT_QPA_PLATFORM"] = "offscreen"
    if run(["cmake", "-S", ROOT, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Debug",
            "-DTANDREL_SANITIZE=OFF", "-DTANDREL_BENCHMARKS=OFF",
            "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]) != 0:
        sys.exit("cannot configure " + BUILD)
    print("building %s ..." % BUILD, flush=True)
    if not build(None, None):
        sys.exit("the unchanged sources do not build")
    targets, regex, count = selected_tests(args.tests, args.programs)
    print("%d tests in %d programs; checking they pass unchanged ..." % (count, len(targets)),
          flush=True)
    if test(regex, args.timeout) != 0:
        sys.exit("the tests fail without any fault: fix them or narrow --tests")

    killed, survived, skipped = [], [], []
    for n in numbers:
        m = MUTANTS[n - 1]
        state = status(m)
        if state != "ok":
            print("%2d  skipped (%s)  %s" % (n, state, m[3]), flush=True)
            skipped.append(n)
            continue
        start = time.monotonic()
        with Applied(m):
            if not build(targets, 1800):
                verdict = "no build"
                skipped.append(n)
            else:
                rc = test(regex, args.timeout)
                verdict = "killed" if rc != 0 else "SURVIVED"
                (killed if rc != 0 else survived).append(n)
                if rc is None:
                    verdict += " (time-out)"
        print("%2d  %-18s %-22s %s  (%ds)" % (n, verdict, m[0], m[3], time.monotonic() - start),
              flush=True)
    # The unchanged sources again, so the build dir matches the tree.
    build(targets, None)
    counted = len(killed) + len(survived)
    if counted:
        print("\nkill rate: %d of %d (%.0f%%)" % (len(killed), counted, 100.0 * len(killed) / counted))
    if survived:
        print("survived: " + ", ".join(str(n) for n in survived))
    if skipped:
        print("not counted: " + ", ".join(str(n) for n in skipped))
    return 0


if __name__ == "__main__":
    sys.exit(main())
