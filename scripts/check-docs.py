#!/usr/bin/env python3
"""Checks the texts against each other and against the programs.

Usage: scripts/check-docs.py --man-dir DIR --program NAME=PATH...

- README.md stays within 200 lines and opens with the three commands that CI
  and the demo test run.
- Every manual page of DIR (made by CMake from docs/man/*.in) renders with
  `man --warnings` without a warning and has a NAME line whatis can read, and
  every page a text refers to exists.
- The Czech help and the English manual pages say the same: the colours of
  the indicators (help vs tarvion(8)), the status pairs and the command
  letters (help vs tarvion-files(5)).
- Every option a text shows for one of Tarvion's programs is in that
  program's --help, every option a manual page lists under OPTIONS is, and
  so is every option of --help in the page; every option shown for a script
  is one the script takes.
- The clock line the pages show gives a T line's form, and the dissector's
  fields and preferences that tarvion(1) shows exist (tshark -G).
Prints one line per fault and exits 1 when there is any.
"""
import argparse
import html.parser
import os
import re
import subprocess
import sys

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
faults = []


def fault(text):
    faults.append(text)
    print("check-docs: " + text, file=sys.stderr)


def read(path):
    with open(os.path.join(REPO, path), encoding="utf-8") as f:
        return f.read()


def troff_text(source):
    """The words of a troff source, its escapes for dashes, quotes and fonts undone."""
    text = re.sub(r"\\f[BIRP]|\\&|\\c$", "", source, flags=re.M)
    text = text.replace("\\-", "-").replace("\\(aq", "'").replace("\\e", "\\")
    return re.sub(r"^\.(B|I|BR|RB|BI|IB|IR|RI)\s+", "", text, flags=re.M)


def section(source, title):
    """The lines of one .SH section of a troff source."""
    match = re.search(r"^\.SH \"?" + re.escape(title) + r"\"?\n(.*?)(?=^\.SH |\Z)", source, re.M | re.S)
    return match.group(1) if match else ""


# ---- README ----
def check_readme():
    readme = read("README.md")
    lines = readme.splitlines()
    if len(lines) > 200:
        fault(f"README.md has {len(lines)} lines, more than 200")
    block = re.match(r"# Tarvion\n\n```sh\n(.*?)\n```\n", readme, re.S)
    if not block:
        fault("README.md does not open with its block of commands")
        return
    commands = [line.split()[0] for line in block.group(1).splitlines()]
    if commands != ["scripts/run-demo.sh", "scripts/test-all.sh", "scripts/package.sh"]:
        fault(f"README.md's commands are {commands}")
    # Each is what a test or CI runs.
    runners = {"scripts/test-all.sh": ".ci/run", "scripts/run-demo.sh": "tests/demo_run_test.sh",
               "scripts/package.sh": "scripts/test-all.sh"}
    for command, runner in runners.items():
        if os.path.basename(command) not in read(runner):
            fault(f"{runner} no longer runs {command}, which README.md shows")


# ---- Manual pages ----
def check_pages(man_dir):
    sources = sorted(f[:-3] for f in os.listdir(os.path.join(REPO, "docs/man")) if f.endswith(".in"))
    env = dict(os.environ, LC_ALL="C.UTF-8", MANROFFSEQ="", MANWIDTH="80")
    for page in sources:
        path = os.path.join(man_dir, page)
        if not os.path.exists(path):
            fault(f"docs/man/{page}.in was not made into {path}")
            continue
        run = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", path],
                             env=env, capture_output=True, text=True)
        if run.returncode != 0 or run.stderr.strip():
            fault(f"man -l {page}: {run.stderr.strip() or 'exit status %d' % run.returncode}")
        whatis = subprocess.run(["lexgrog", path], capture_output=True, text=True)
        if whatis.returncode != 0:
            fault(f"lexgrog {page}: no NAME line whatis can read")
    known = set(sources)
    texts = {f"docs/man/{p}.in": read(f"docs/man/{p}.in") for p in sources}
    texts["README.md"] = read("README.md")
    texts["docs/HACKING.md"] = read("docs/HACKING.md")
    texts["deploy/wireshark/README.md"] = read("deploy/wireshark/README.md")
    for name, text in texts.items():
        for ref, sec in re.findall(r"\b((?:tarvion|orveta)[\w.\\-]*?)\s*\(([1-8])\)", troff_text(text)):
            if f"{ref}.{sec}" not in known:
                fault(f"{name} refers to {ref}({sec}), which is no page of docs/man")


# ---- The help against the pages ----
class HelpTables(html.parser.HTMLParser):
    """The rows of the help's tables with an id: their data-stav, colour and code texts."""

    def __init__(self):
        super().__init__()
        self.tables, self.table, self.row, self.in_code = {}, None, None, False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "table" and "id" in attrs:
            self.table = self.tables.setdefault(attrs["id"], [])
        elif tag == "tr" and self.table is not None:
            self.row = {"stav": attrs.get("data-stav"), "colour": None, "codes": []}
            self.table.append(self.row)
        elif tag == "span" and self.row is not None and "background:" in attrs.get("style", ""):
            self.row["colour"] = attrs["style"].split("background:")[1].strip().upper()
        elif tag == "code":
            self.in_code = True

    def handle_endtag(self, tag):
        if tag == "table":
            self.table = None
        elif tag == "tr":
            self.row = None
        elif tag == "code":
            self.in_code = False

    def handle_data(self, data):
        if self.in_code and self.row is not None:
            self.row["codes"].append(data)


def tp_items(text):
    """The tags of the .TP items of a troff section, as words."""
    return [troff_text(tag).strip().strip('"') for tag in re.findall(r"^\.TP[^\n]*\n([^\n]*)", text, re.M)]


def check_help():
    tables = HelpTables()
    tables.feed(read("help/Tarvion.html"))
    admin = read("docs/man/tarvion.8.in")
    files = read("docs/man/tarvion-files.5.in")

    help_colours = {}
    for row in tables.tables.get("barvy", []):
        for state in (row["stav"] or "").split(","):
            help_colours[state.strip()] = row["colour"]
    status_line = section(admin, "THE STATUS LINE")
    page_colours = dict(re.findall(r"^\.B ([a-z ]+)\n[^\n]*?(#[0-9A-F]{6})", status_line, re.M))
    if not help_colours or help_colours != page_colours:
        fault(f"the indicators' colours differ: help {help_colours}, tarvion(8) {page_colours}")

    help_pairs = [row["codes"][0] for row in tables.tables.get("stavy", []) if row["codes"]]
    page_pairs = tp_items(section(files, "THE STATUS FILE"))
    if not help_pairs or help_pairs != page_pairs:
        fault(f"the status pairs differ: help {help_pairs}, tarvion-files(5) {page_pairs}")

    help_letters = sorted({c for row in tables.tables.get("prikazy", []) for c in row["codes"] if len(c) == 1})
    lines = section(files, "THE REQUEST FILE").split(".SS Lines")[-1].split("A person line")[0]
    page_letters = sorted({w for item in tp_items(lines) for w in re.findall(r"\b[A-Z]\b", item)})
    if not help_letters or help_letters != page_letters:
        fault(f"the command letters differ: help {help_letters}, tarvion-files(5) {page_letters}")


# ---- Options ----
OPTION = re.compile(r"(?<![\w-])--[a-z][a-z0-9-]*")


def help_options(path):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    out = subprocess.run([path, "--help"], env=env, capture_output=True, text=True, timeout=30)
    return set(OPTION.findall(out.stdout + out.stderr))


def shown_commands(text):
    """(command, options) of every line of a text that runs a program or script."""
    for line in troff_text(text).splitlines():
        line = line.split(" #")[0]
        for match in re.finditer(r"(?:^|[\s`(\"/])((?:build/)?(tarvion(?:-config|-scan|-request)?|orveta-sim)|"
                                 r"scripts/[\w-]+\.(?:sh|py))(?=[\s`\"]|$)(.*)", line):
            program = match.group(2) or match.group(1)
            rest = re.split(r"[`|;)]|&&", match.group(3))[0]
            yield program, OPTION.findall(rest)


def check_options(programs):
    known = {name: help_options(path) for name, path in programs.items()}
    texts = ["README.md", "docs/HACKING.md", "BENCHMARKS.md"] + \
            [f"docs/man/{f}" for f in sorted(os.listdir(os.path.join(REPO, "docs/man"))) if f.endswith(".in")]
    for name in texts:
        for program, options in shown_commands(read(name)):
            if program.startswith("scripts/"):
                path = os.path.join(REPO, program)
                if not os.access(path, os.X_OK):
                    fault(f"{name} shows {program}, which is no executable script")
                    continue
                script = read(program)
                for option in options:
                    if not re.search(re.escape(option) + r"(?![\w-])", script):
                        fault(f"{name} shows {program} {option}, which the script does not take")
            elif program in known:
                for option in options:
                    if option not in known[program]:
                        fault(f"{name} shows {program} {option}, which is not in its --help")
    for name in known:
        page = read(f"docs/man/{name}.1.in")
        listed = set(OPTION.findall(troff_text(section(page, "OPTIONS"))))
        if listed != known[name] and name != "tarvion-config":
            fault(f"{name}(1) OPTIONS lists {sorted(listed)}, its --help {sorted(known[name])}")
        elif name == "tarvion-config" and not listed <= known[name]:
            fault(f"{name}(1) OPTIONS lists {sorted(listed - known[name])}, not in its --help")


# ---- Commands checked by what they give ----
def check_clock_commands():
    """Every clock line a text shows gives the T line's form: YYMMDD, weekday 01-07, hhmmss."""
    texts = [f"docs/man/{f}" for f in os.listdir(os.path.join(REPO, "docs/man")) if f.endswith(".in")]
    formats = {f for name in texts for f in re.findall(r'"T\$\(date \+([^)]*)\)"', troff_text(read(name)))}
    if not formats:
        fault("no text shows how to set a terminal's clock")
    for form in formats:
        given = subprocess.run(["date", "+" + form], capture_output=True, text=True).stdout.strip()
        if not re.fullmatch(r"\d{6}0[1-7]\d{6}", given):
            fault(f"date +{form} gives {given!r}, no clock for a T line")


def check_dissector_names():
    """The fields and preferences of the dissector that tarvion(1) shows exist."""
    lua = os.path.join(REPO, "deploy/wireshark/tarvion.lua")
    def names(kind, column):
        run = subprocess.run(["tshark", "-G", kind, "-X", "lua_script:" + lua], capture_output=True, text=True,
                             env=dict(os.environ, HOME=os.environ.get("TMPDIR", "/tmp")))
        return {re.split(r"[\t:]", line.lstrip("#"))[column].strip() for line in run.stdout.splitlines() if line}
    try:
        fields, prefs = names("fields", 2), names("currentprefs", 0)
    except FileNotFoundError:
        print("check-docs: no tshark here: the dissector's names shown are not checked")
        return
    capture = troff_text(section(read("docs/man/tarvion.1.in"), "CAPTURE"))
    for name in set(re.findall(r"\btarvion(?:\.[a-z_]+)+", capture)) - {"tarvion.lua"}:
        pref = re.search(r"-o " + re.escape(name) + ":", capture)
        if name not in (prefs if pref else fields):
            fault(f"tarvion(1) shows {name}, which the dissector does not have")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--man-dir", required=True)
    parser.add_argument("--program", action="append", default=[], metavar="NAME=PATH")
    args = parser.parse_args()
    check_readme()
    check_pages(args.man_dir)
    check_help()
    check_options(dict(p.split("=", 1) for p in args.program))
    check_clock_commands()
    check_dissector_names()
    if faults:
        return 1
    print("check-docs: README, manual pages, help and the options shown agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
