#!/usr/bin/env python3
"""Fails when a name the project's docs cite in backticks no longer exists in the project.

    scripts/check_docs.py [DOC ...]      default: docs/ARCHITECTURE.md docs/TESTING.md

What is checked, by the form of the backticked text:
  a project path (has a slash)                                exists (a * matches any characters);
                                                             paths under build/ are the build's
  a code name (Name, Class::Member, Class.member, Name(args)) defined or used in the sources; for
                                                             Class::Member, the member is declared
                                                             in a file that defines the class
  a Windows path (has a backslash)                            every literal piece of it occurs in
                                                             the sources
  anything else                                               occurs in the project's files
Placeholders in angle brackets (<version>) match anything. A span with blanks in it is a command:
its first word is checked when it is a project path. Exit code 0 when all exist, 1 otherwise.
"""
import glob
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DOCS = ["docs/ARCHITECTURE.md", "docs/TESTING.md"]
SOURCE_EXT = (".cpp", ".h", ".c", ".py", ".sh", ".xml", ".md", ".in", ".nsi", ".rc", ".manifest", ".cmake",
              ".txt", ".ini", ".json")
CODE_NAME = re.compile(r"^~?[A-Za-z_][A-Za-z0-9_]*((::|\.)~?[A-Za-z_][A-Za-z0-9_]*)*(\(\))?$")
CALL = re.compile(r"^([A-Za-z_][A-Za-z0-9_:]*)\(.+\)$")  # a call with arguments: its name counts
SPAN = re.compile(r"`([^`\n]+)`")


def project_files():
    try:
        out = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=60).stdout.decode("utf-8", "replace").split("\n")
        files = [f for f in out if f]
    except OSError:
        files = []
    if not files:
        for d, dirs, names in os.walk(ROOT):
            dirs[:] = [x for x in dirs if x not in (".git", "build")]
            files += [os.path.relpath(os.path.join(d, n), ROOT) for n in names]
    return sorted(set(files))


class Corpus:
    """The project's text, without the docs being checked and this checker (neither may vouch for
    a name by citing it)."""

    def __init__(self, skip):
        self.texts = {}
        for f in project_files():
            if f in skip or not os.path.isfile(os.path.join(ROOT, f)):
                continue
            try:
                data = open(os.path.join(ROOT, f), "rb").read()
            except OSError:
                continue
            if b"\0" in data[:4096]:
                continue
            self.texts[f] = data.decode("utf-8", "replace")
        self.code = {f: t for f, t in self.texts.items() if f.endswith(SOURCE_EXT) and not f.endswith(".md")}

    def has_word(self, word, texts=None):
        pat = re.compile(r"(?<![A-Za-z0-9_])%s(?![A-Za-z0-9_])" % re.escape(word))
        return any(pat.search(t) for t in (texts or self.code).values())

    def has_text(self, text, texts=None):
        return any(text in t for t in (texts or self.texts).values())


def literal_pieces(text):
    """The parts of a text outside <placeholders> and * wildcards."""
    return [p for p in re.split(r"<[^<>]*>|\*", text) if p]


def check_path(span):
    path = span.rstrip("/")
    if "<" in path:
        pattern = re.sub(r"<[^<>]*>", "*", path)
    else:
        pattern = path
    if "*" in pattern:
        return bool(glob.glob(os.path.join(ROOT, pattern)))
    return os.path.exists(os.path.join(ROOT, path))


def check_code_name(corpus, span):
    name = span[:-2] if span.endswith("()") else span
    parts = re.split(r"::|\.", name)
    if len(parts) == 1:
        return corpus.has_word(name)
    if corpus.has_text(name, corpus.code):
        return True
    # a member declared in the class's header: the class is defined where the member is declared
    owner, member = parts[-2], parts[-1]
    defines = re.compile(r"\b(class|struct|namespace)\s+%s\b" % re.escape(owner))
    if "." in name and not any(defines.search(t) for t in corpus.code.values()):
        return corpus.has_text(name, corpus.texts)  # a file name such as vd_endpoints.h
    return any(defines.search(t) and re.search(r"\b%s\b" % re.escape(member), t) for t in corpus.code.values())


def check_windows_path(corpus, span):
    for component in span.split("\\"):
        for piece in literal_pieces(component):
            piece = re.sub(r"%[A-Za-z_]+%", "", piece).strip(" .")
            if len(piece) >= 3 and not corpus.has_text(piece):
                return False
    return True


def check_span(corpus, span):
    """None when the span is not checked, else whether what it names exists."""
    span = span.strip()
    if not span:
        return None
    call = CALL.match(span)
    if call:
        return check_code_name(corpus, call.group(1))
    if " " in span:
        first = span.split()[0]
        if "/" in first and not first.startswith(("-", "/", "http", "build/")) and "=" not in first:
            return check_path(first)
        return None
    if "\\" in span:
        return check_windows_path(corpus, span)
    if span.startswith("build/"):
        return None  # made by the build, not part of the project
    bare = re.sub(r"<[^<>]*>", "", span)
    if "/" in bare and not span.startswith(("/", "http", "-")):
        return check_path(span)
    if os.path.isfile(os.path.join(ROOT, span)):
        return True  # a file at the top of the project
    if CODE_NAME.match(span):
        return check_code_name(corpus, span)
    pieces = [p for p in literal_pieces(span) if len(p) >= 3]
    return all(corpus.has_text(p) for p in pieces) if pieces else None


def check_text(corpus, doc, text):
    """(names checked, lines naming what is missing) for one document's text."""
    missing = []
    checked = 0
    # fenced blocks are examples, not citations
    text = re.sub(r"```.*?```", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    for lineno, line in enumerate(text.split("\n"), 1):
        for span in SPAN.findall(line):
            ok = check_span(corpus, span)
            if ok is None:
                continue
            checked += 1
            if not ok:
                missing.append("%s:%d: `%s` names nothing in the project" % (doc, lineno, span))
    return checked, missing


# Before the docs are believed, the checker must tell a real name from a vanished one of each kind.
KNOWN = ["`installer/mainframe.h`", "`CMainFrameWnd::InitWindow`", "`Installer.wait_window`", "`WM_USER_EXEC_INST_FEEDBACK`",
         "`PushBehaviorRecord()`", "`%TEMP%\\vdhttpTempCache\\<sub>`", "`tests/e2e/test_*.py`"]
VANISHED = ["`installer/mainframe_gone.h`", "`CMainFrameWnd::InitWindowGone`", "`Installer.gone_window`", "`WM_USER_GONE_MESSAGE`",
            "`PushGoneRecord()`", "`%TEMP%\\vdhttpGoneCache\\<sub>`", "`tests/e2e/gone_*.py`"]


def self_check(corpus):
    faults = []
    for span in KNOWN:
        if check_text(corpus, "known", span) != (1, []):
            faults.append("self-check: %s was not found" % span)
    for span in VANISHED:
        if check_text(corpus, "vanished", span)[1] == []:
            faults.append("self-check: %s passed although it names nothing" % span)
    return faults


def main(argv):
    docs = argv[1:] or DOCS
    for d in docs:
        if not os.path.isfile(os.path.join(ROOT, d)):
            print("%s: no such document" % d)
            return 1
    corpus = Corpus(set(docs) | {os.path.relpath(os.path.abspath(__file__), ROOT)})
    faults = self_check(corpus)
    checked = 0
    for doc in docs:
        n, missing = check_text(corpus, doc, open(os.path.join(ROOT, doc), encoding="utf-8").read())
        checked += n
        faults += missing
    for f in faults:
        print(f)
    print("%d names checked in %s, %d missing" % (checked, ", ".join(docs), len(faults)))
    return 1 if faults or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
