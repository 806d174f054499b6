#!/usr/bin/env python3
"""Keeps the documentation in step with itself and with the programs.

  scripts/check-docs.py links
      Every relative link and picture in README.md, docs/*.md and sim/README.md
      must name a file that exists, and a #anchor must name a heading of the
      file it points to (as GitHub spells heading anchors).

  scripts/check-docs.py options PROGRAM MANPAGE DOC.md [...]
      Every option PROGRAM --help lists must appear in the manual page and in
      each of the Markdown files.

Prints one line per fault and exits with status 1 when there is one.
"""
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def documents():
    docs = os.path.join(ROOT, "docs")
    names = [os.path.join(ROOT, "README.md"), os.path.join(ROOT, "sim", "README.md")]
    names += [os.path.join(docs, n) for n in sorted(os.listdir(docs)) if n.endswith(".md")]
    return names


def prose(text):
    """The text without fenced code blocks and code spans, where brackets are no links."""
    text = re.sub(r"^```.*?^```", "", text, flags=re.S | re.M)
    return re.sub(r"`[^`\n]*`", "", text)


def slug(heading):
    """GitHub's anchor for a heading: lower case, punctuation dropped, spaces to hyphens."""
    heading = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def anchors(path):
    found, seen = set(), {}
    text = re.sub(r"^```.*?^```", "", open(path, encoding="utf-8").read(), flags=re.S | re.M)
    for m in re.finditer(r"^#{1,6}[ \t]+(.+?)[ \t#]*$", text, flags=re.M):
        base = slug(m.group(1))
        n = seen.get(base, 0)
        seen[base] = n + 1
        found.add(base if n == 0 else "%s-%d" % (base, n))
    return found


def check_links():
    faults = []
    for doc in documents():
        rel = os.path.relpath(doc, ROOT)
        text = prose(open(doc, encoding="utf-8").read())
        targets = re.findall(r"\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)", text)
        targets += re.findall(r"^\s*\[[^\]]+\]:\s*(\S+)", text, flags=re.M)
        for target in targets:
            if re.match(r"^[a-z][a-z0-9+.-]*:", target, flags=re.I):
                continue  # http:, https:, mailto: and the like are not checked
            path, _, anchor = target.partition("#")
            dest = os.path.normpath(os.path.join(os.path.dirname(doc), path)) if path else doc
            if not os.path.exists(dest):
                faults.append("%s: link to %s: no such file" % (rel, target))
            elif anchor and dest.endswith(".md") and anchor not in anchors(dest):
                faults.append("%s: link to %s: no heading with the anchor #%s in %s"
                              % (rel, target, anchor, os.path.relpath(dest, ROOT)))
    return faults


def listed_options(program):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    out = subprocess.run([program, "--help"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         env=env, timeout=60, check=False).stdout.decode("utf-8", "replace")
    options = []
    section = out.partition("\nOptions:\n")[2].partition("\n\n")[0]
    for line in section.splitlines():
        # An option line: "  -h, --help   Displays ..." or "  --port <path>   ..."
        m = re.match(r"^\s+((?:-{1,2}[\w?][\w-]*(?: <[^>]*>)?,?\s)+)", line + " ")
        if m:
            names = re.findall(r"(-{1,2}[\w?][\w-]*)", m.group(1))
            longs = [n for n in names if n.startswith("--")]
            options.append(longs[0] if longs else names[0])
    return options


def mentions(text, option):
    return re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(option), text) is not None


def check_options(program, manpage, markdowns):
    options = listed_options(program)
    if not options:
        return ["%s --help lists no options: cannot check the documentation" % program]
    faults = []
    man = open(manpage, encoding="utf-8").read().replace("\\-", "-")
    name = os.path.basename(program)
    for option in options:
        if not mentions(man, option):
            faults.append("%s: option %s (listed by %s --help) is missing"
                          % (os.path.relpath(manpage, ROOT), option, name))
        for md in markdowns:
            if not mentions(open(md, encoding="utf-8").read(), option):
                faults.append("%s: option %s (listed by %s --help) is missing"
                              % (os.path.relpath(md, ROOT), option, name))
    return faults


def main(argv):
    if len(argv) == 2 and argv[1] == "links":
        faults = check_links()
    elif len(argv) >= 5 and argv[1] == "options":
        faults = check_options(argv[2], argv[3], argv[4:])
    else:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
