#!/usr/bin/env python3
"""Checks the documents against the programs they describe.

Every command shown in a shell block of the Markdown files, and every code
span that starts with one of our programs, must name a program or script that
exists, and each option given to one of our programs must be in that
program's --help (with the helps of its modes, such as arpping.exe --sweep
--help) and its man page. An option span standing alone in prose
belongs to the program named with arguments before it in the same paragraph,
list item or table row; where no command is named there, it must be an option
of one of our programs. Last, every option in a program's --help table must be
in its man page.

Usage: check_documents.py --bin BIN_DIR --source SOURCE_DIR [--man MAN_DIR] [MARKDOWN...]
Without MARKDOWN: README.md and docs/*.md of SOURCE_DIR. Prints one line per
finding and exits 1 when there is any.
"""

import argparse
import glob
import os
import re
import shlex
import subprocess
import sys

# Program -> whether it has a --help of its own and a man page.
PROGRAMS = {
    "zudiruv": (False, True),
    "zudiruv-fleet": (True, True),
    "arpping.exe": (True, True),
    "eflash.exe": (True, True),
    "velquor-sim": (True, False),
    "bootloader-sim": (True, False),
}
# Help texts beyond --help, for programs whose modes have their own.
MORE_HELP = {
    "arpping.exe": [["--sweep", "--help"]],
}
OPTION = re.compile(r"(?<![\w./-])(--?[A-Za-z][A-Za-z0-9-]*)")
# Words that name one of our programs, misspelt or not.
LOOKS_OURS = re.compile(r"^(zudiruv.*|.*\.exe|.*-sim)$")
SEPARATORS = {"|", "||", "&&", ";", "&", "(", ")", ";;"}
REDIRECTS = {">", ">>", "<", "2>", "2>>", "&>", ">&"}
WRAPPERS = {"sudo", "env", "exec", "nohup", "time"}


def options_in(text):
    return set(OPTION.findall(text))


def help_text(bin_dir, program):
    text = ""
    for arguments in [["--help"]] + MORE_HELP.get(program, []):
        try:
            run = subprocess.run([os.path.join(bin_dir, program)] + arguments, capture_output=True,
                                 text=True, timeout=20)
        except (OSError, subprocess.TimeoutExpired) as problem:
            return None, str(problem)
        text += run.stdout + run.stderr
    return text, None


def help_table_options(text):
    """The options of the help's table: lines indented by two, first column."""
    found = set()
    for line in text.splitlines():
        match = re.match(r"^  (-\S.*?)(?:\s{2,}|$)", line)
        if match:
            found |= options_in(match.group(1))
    return found


def man_text(path):
    with open(path, encoding="utf-8") as page:
        text = page.read()
    text = text.replace("\\-", "-")
    return re.sub(r"\\f[BIRP]", "", text)


class Checker:
    def __init__(self, bin_dir, source_dir, man_dir):
        self.bin_dir = bin_dir
        self.source_dir = source_dir
        self.findings = []
        self.help = {}
        self.man = {}
        for program, (has_help, has_man) in PROGRAMS.items():
            if has_help:
                text, problem = help_text(bin_dir, program)
                if text is None:
                    self.findings.append(f"{program}: --help could not be run: {problem}")
                else:
                    self.help[program] = text
            if has_man:
                path = os.path.join(man_dir, program + ".1")
                if os.path.exists(path):
                    self.man[program] = man_text(path)
                else:
                    self.findings.append(f"{program}: no man page {path}")

    def find(self, where, text):
        self.findings.append(f"{where}: {text}")

    def check_help_against_man(self):
        for program, text in self.help.items():
            if program not in self.man:
                continue
            missing = sorted(help_table_options(text) - options_in(self.man[program]))
            for option in missing:
                self.find(program, f"{option} of its --help is not in its man page")

    def check_option(self, where, program, option):
        if program in self.help and option not in options_in(self.help[program]):
            self.find(where, f"{program}: {option} is not in its --help")
        if program in self.man and option not in options_in(self.man[program]):
            self.find(where, f"{program}: {option} is not in its man page")

    def program_of(self, word):
        """Our program a command word names, or None."""
        name = os.path.basename(word)
        return name if name in PROGRAMS else None

    def check_command_word(self, where, word):
        program = self.program_of(word)
        if program:
            if not os.access(os.path.join(self.bin_dir, program), os.X_OK):
                self.find(where, f"{program} is not built in {self.bin_dir}")
            return program
        name = os.path.basename(word)
        if LOOKS_OURS.match(name):
            self.find(where, f"{word}: no such program of ours")
        elif "/" in word and not word.startswith(("/", "$", "~")):
            path = word
            if path.startswith("build/"):
                # What the build makes lies in the build tree, not the sources.
                path = os.path.join(os.path.dirname(self.bin_dir), path[len("build/"):])
            else:
                path = os.path.join(self.source_dir, path)
            if not os.access(path, os.X_OK):
                self.find(where, f"{word} does not exist or cannot be run")
        return None

    def check_command(self, where, words):
        while words and (re.match(r"^[A-Za-z_][A-Za-z0-9_]*=", words[0]) or words[0] in WRAPPERS):
            words = words[1:]
        if not words or words[0].startswith("-"):
            return None
        program = self.check_command_word(where, words[0])
        if program:
            for word in words[1:]:
                if re.match(r"^--?[A-Za-z]", word):
                    self.check_option(where, program, word.split("=", 1)[0])
        return program

    def commands(self, line):
        lexer = shlex.shlex(line, posix=True, punctuation_chars=";&|()<>")
        lexer.whitespace_split = True
        lexer.commenters = "#"
        words, skip_next = [], False
        try:
            tokens = list(lexer)
        except ValueError:
            tokens = line.split()
        for token in tokens:
            if skip_next:
                skip_next = False
            elif token in SEPARATORS:
                yield words
                words = []
            elif token in REDIRECTS or re.match(r"^\d?[<>]", token):
                skip_next = token in REDIRECTS
            else:
                words.append(token)
        yield words

    def check_shell_block(self, name, first_line, lines):
        joined, start = "", first_line
        for number, line in enumerate(lines, first_line):
            if not joined:
                start = number
            if line.rstrip().endswith("\\"):
                joined += line.rstrip()[:-1] + " "
                continue
            joined += line
            for words in self.commands(joined):
                self.check_command(f"{name}:{start}", words)
            joined = ""

    def check_prose(self, name, number, paragraph):
        # A program named with arguments holds the options that follow; a
        # word alone (a program mentioned, a result, a file) only while no
        # program has been named so. Where no command is named at all, an
        # option must at least be one of some program of ours.
        program, named_with_arguments, any_command = None, False, False
        for span in re.findall(r"`([^`\n]+)`", paragraph):
            try:
                words = shlex.split(span)
            except ValueError:
                words = span.split()
            if not words:
                continue
            if words[0].startswith("-"):
                # Compiler and build flags (-fsanitize, -DNAME) are nobody's of ours.
                if not re.match(r"^(--[A-Za-z]|-[A-Za-z](=|$))", words[0]):
                    continue
                option = words[0].split("=", 1)[0]
                if program:
                    self.check_option(f"{name}:{number}", program, option)
                elif not any_command and not any(option in options_in(text) for text in
                                                 list(self.help.values()) + list(self.man.values())):
                    self.find(f"{name}:{number}", f"{option} is in no program's --help or man page")
            elif re.match(r"^([a-z][\w.+-]*|[\w.$-]*/[\w./$-]*)$", words[0]):
                # A command's name, not a message or a result quoted in prose.
                if len(words) > 1 or not named_with_arguments:
                    program = self.program_of(words[0])
                    named_with_arguments = len(words) > 1
                any_command = any_command or len(words) > 1 or self.program_of(words[0]) is not None
                if self.program_of(words[0]):
                    self.check_command(f"{name}:{number}", words)

    def check_markdown(self, path):
        name = os.path.relpath(path, self.source_dir)
        with open(path, encoding="utf-8") as document:
            lines = document.read().splitlines()
        block, block_lines, paragraph, paragraph_start = None, [], [], 0
        for number, line in enumerate(lines, 1):
            fence = re.match(r"^\s*```\s*(\S*)", line)
            if fence and block is None:
                self.check_prose(name, paragraph_start, "\n".join(paragraph))
                paragraph = []
                block, block_lines, block_start = fence.group(1), [], number + 1
            elif fence:
                if block in ("sh", "bash", "shell", "console"):
                    self.check_shell_block(name, block_start, block_lines)
                block = None
            elif block is not None:
                block_lines.append(line)
            elif not line.strip() or line.lstrip().startswith("|"):
                # A table row stands alone.
                self.check_prose(name, paragraph_start, "\n".join(paragraph))
                paragraph = []
                if line.strip():
                    self.check_prose(name, number, line)
            elif re.match(r"^\s*([-*]|\d+\.) ", line):
                # So does a list item, with the lines that continue it.
                self.check_prose(name, paragraph_start, "\n".join(paragraph))
                paragraph, paragraph_start = [line], number
            else:
                if not paragraph:
                    paragraph_start = number
                paragraph.append(line)
        self.check_prose(name, paragraph_start, "\n".join(paragraph))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--man")
    parser.add_argument("markdown", nargs="*")
    arguments = parser.parse_args()
    source = os.path.abspath(arguments.source)
    man_dir = arguments.man or os.path.join(source, "packaging", "linux", "man")
    documents = arguments.markdown or [os.path.join(source, "README.md")] + sorted(
        glob.glob(os.path.join(source, "docs", "*.md")))
    checker = Checker(os.path.abspath(arguments.bin), source, man_dir)
    checker.check_help_against_man()
    for document in documents:
        checker.check_markdown(os.path.abspath(document))
    for finding in checker.findings:
        print(finding)
    print(f"{len(documents)} documents checked, {len(checker.findings)} findings")
    return 1 if checker.findings else 0


if __name__ == "__main__":
    sys.exit(main())
