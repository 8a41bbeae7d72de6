#!/usr/bin/env python3
"""Routes every path <-> text conversion through platform/Paths.h.

Rewrites, in src/ and bench/ (tests are left as they are):
  QFile::decodeName(<bytes of a path or name>)      -> platform::pathText(...)
  fs::path(QFile::encodeName(<text>).toStdString())  -> platform::pathFromText(<text>)
and then removes file-local helpers that only forward to platform::pathText,
calling platform::pathText in their place. Adds the include where needed and
drops <QFile> where nothing else uses it.

The rewritten files are staged and their changed lines formatted with
git clang-format, ready to commit. Safe to run again after merging: a file with nothing left to rewrite is not
touched. Usage: scripts/dev/path-text.py [root]   (default: the checkout)
"""

import pathlib
import re
import shutil
import subprocess
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[2])
DIRS = ["src", "bench"]
HOME = "src/platform/Paths"


def balanced(text, start):
    """Index just past the parenthesis that closes the one before `start`."""
    depth = 1
    i = start
    quote = None
    while i < len(text):
        c = text[i]
        if quote:
            if c == "\\":
                i += 1
            elif c == quote:
                quote = None
        elif c in "\"'":
            quote = c
        elif c == "(":
            depth += 1
        elif c == ")":
            depth -= 1
            if depth == 0:
                return i + 1
        i += 1
    raise ValueError("unbalanced parentheses")


def strip_call(arg, prefix, suffix=")"):
    """`prefix X suffix` -> X when the parentheses of prefix close at the end."""
    if not arg.startswith(prefix):
        return None
    try:
        end = balanced(arg, len(prefix))
    except ValueError:
        return None
    if end != len(arg):
        return None
    return arg[len(prefix) : -len(suffix)]


def bytes_argument(arg):
    """The simplest expression that platform::pathText() takes for `arg`."""
    arg = arg.strip()
    for wrapper in ("QByteArray::fromStdString(", "QByteArray("):
        inner = strip_call(arg, wrapper)
        if inner is None:
            continue
        # QByteArray(data, qsizetype(size)): a view of the same bytes.
        m = re.fullmatch(r"(.+?),\s*qsizetype\((.+)\)", inner, re.S)
        if wrapper == "QByteArray(" and m:
            data, size = m.group(1).strip(), m.group(2).strip()
            whole = re.fullmatch(r"(\w+)\.data\(\)", data)
            if whole and size == whole.group(1) + ".size()":
                return whole.group(1)
            return "std::string_view(%s, %s)" % (data, size)
        if "," in inner:
            return arg
        arg = inner.strip()
        break
    for member in (".native()", ".string()", ".c_str()"):
        if arg.endswith(member):
            return arg[: -len(member)]
    return arg


def rewrite_calls(text, name, convert):
    """Rewrites each `name(arg)`: convert(arg, text, begin, end) answers None
    to keep the call, or (replacement, cut, resume): `cut` characters before
    the call go too, and the text from `resume` on follows the replacement."""
    out = []
    pos = 0
    while True:
        i = text.find(name + "(", pos)
        if i < 0:
            out.append(text[pos:])
            return "".join(out)
        start = i + len(name) + 1
        end = balanced(text, start)
        answer = convert(text[start : end - 1], text, i, end)
        if answer is None:
            out.append(text[pos:end])
            pos = end
            continue
        replacement, cut, resume = answer
        out.append(text[pos : i - cut])
        out.append(replacement)
        pos = resume


def decode(arg, text, begin, end):
    return ("platform::pathText(%s)" % bytes_argument(arg), 0, end)


PATH_TYPES = r"(?:std::filesystem::path|fs::path)"


def encode_to_path(text):
    """fs::path(QFile::encodeName(X).toStdString()) and path-typed targets."""

    def convert(arg, whole, begin, end):
        call = re.match(r"\s*\.toStdString\(\)", whole[end:])
        if not call:
            return None
        resume = end + call.end()
        after = whole[resume:]
        before = whole[:begin]
        replacement = "platform::pathFromText(%s)" % arg.strip()
        # fs::path(<here>): the construction goes with it.
        made = re.search(r"(?<![\w:])" + PATH_TYPES + r"\(\s*$", before)
        closing = re.match(r"\s*\)", after)
        if made and closing:
            return (replacement, len(before) - made.start(), resume + closing.end())
        # A name with a suffix joined to a path: (name + ".png") is text too.
        joined = re.match(r'\s*\+\s*("[^"\\]*")\s*\)', after)
        opening = re.search(r"/\s*\(\s*$", before)
        if joined and opening:
            text = "/ platform::pathFromText(%s + QLatin1String(%s))" % (arg.strip(), joined.group(1))
            return (text, len(opening.group(0)), resume + joined.end())
        # Assigned to, or joined with, a path: the text becomes a path alike.
        target = r"(?:" + PATH_TYPES + r"\s+\w+\s*[=(]|\.folder\s*=|\w\s*/)\s*$"
        if re.search(target, before) and not re.match(r"\s*\+", after):
            return (replacement, 0, resume)
        return None

    return rewrite_calls(text, "QFile::encodeName", convert)


HELPER = re.compile(
    r"^(?:static )?QString (\w+)\(const (?:std::filesystem::path|fs::path|std::string)& (\w+)\)\s*"
    r"\{\s*return platform::pathText\(\2\);\s*\}\n(?:\n(?=\S))?",
    re.M,
)


def drop_helpers(text):
    while True:
        m = HELPER.search(text)
        if not m:
            return text
        name = m.group(1)
        text = text[: m.start()] + text[m.end() :]
        text = re.sub(r"(?<![\w.:>])" + name + r"\(", "platform::pathText(", text)
        # A helper that called another forwards its argument's bytes now.
        text = re.sub(r"platform::pathText\((\w+)\.native\(\)\)", r"platform::pathText(\1)", text)
    return text


def fix_includes(text, path):
    line = '#include "platform/Paths.h"\n'
    if ("platform::pathText" in text or "platform::pathFromText" in text) and line not in text:
        quoted = list(re.finditer(r'^#include "([^"]+)"\n', text, re.M))
        # A file's own header (or its class's, for a part) stands alone at the top.
        own = bool(quoted) and path.stem.startswith(pathlib.PurePath(quoted[0].group(1)).stem)
        others = quoted[1:] if own else quoted
        platform = [m for m in others if m.group(1).startswith("platform/")]
        pool = platform or others
        later = [m for m in pool if m.group(0) > line]
        if later:
            text = text[: later[0].start()] + line + text[later[0].start() :]
        elif pool:
            text = text[: pool[-1].end()] + line + text[pool[-1].end() :]
        elif own:
            text = text[: quoted[0].end()] + "\n" + line + text[quoted[0].end() :]
        else:
            text = line + "\n" + text
    if not re.search(r"\bQFile\b(?!>)", text):
        text = re.sub(r"^#include <QFile>\n", "", text, flags=re.M)
    return text


def main():
    changed = []
    for d in DIRS:
        for path in sorted((ROOT / d).rglob("*")):
            if path.suffix not in (".cpp", ".h") or str(path.relative_to(ROOT)).startswith(HOME):
                continue
            old = path.read_text()
            text = rewrite_calls(old, "QFile::decodeName", decode)
            text = encode_to_path(text)
            text = drop_helpers(text)
            text = re.sub(r"namespace \{\n\n+\} // namespace\n\n?", "", text)
            if text != old:
                text = fix_includes(text, path)
                path.write_text(text)
                changed.append(str(path.relative_to(ROOT)))
    for name in changed:
        print(name)
    # Only the lines changed here take the project's format.
    if changed and shutil.which("git-clang-format"):
        subprocess.run(["git", "add", "--"] + changed, cwd=ROOT, check=True)
        subprocess.run(["git", "clang-format", "-q", "--"] + changed, cwd=ROOT, check=False)


if __name__ == "__main__":
    main()
