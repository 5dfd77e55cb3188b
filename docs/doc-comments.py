#!/usr/bin/env python3
"""Reads a header and prints it with its own comments as documentation
comments, for Doxygen (its INPUT_FILTER): the headers keep plain // comments.

- The comment that opens a header (after #pragma once) documents the file.
- A block of // lines directly above a declaration documents it.
- A // comment after a member on the same line documents that member.
Comments followed by a blank line (section headings) and those inside
function bodies stay plain.
"""
import re
import sys

FULL_LINE = re.compile(r'^(\s*)//(?!/) ?(.*)$')
TRAILING = re.compile(r'^(.*[;,])(\s+)//(?!/) ?(.*)$')
PREPROCESSOR = re.compile(r'^\s*#')
# The comments are prose, not Doxygen markup: backslashes (registry paths),
# at signs and angle brackets are shown as written. Example code (indented by
# four spaces or more) is shown verbatim anyway.
ESCAPED = re.compile(r'([\\@<>])')


def documentation(match):
    indent, text = match.group(1), match.group(2)
    if not text.startswith('    '):
        text = ESCAPED.sub(r'\\\1', text)
    return f'{indent}/// {text}'


def convert(lines):
    lines = [line.rstrip('\n') for line in lines]
    out = []
    opened = False
    i = 0
    while i < len(lines):
        line = lines[i]
        match = FULL_LINE.match(line)
        if not match:
            trailing = TRAILING.match(line)
            if trailing and '"' not in trailing.group(1):
                text = ESCAPED.sub(r'\\\1', trailing.group(3))
                line = f'{trailing.group(1)}{trailing.group(2)}///< {text}'
            if line.strip() and not line.startswith('#pragma'):
                opened = True
            out.append(line)
            i += 1
            continue
        block_end = i
        while block_end < len(lines) and FULL_LINE.match(lines[block_end]):
            block_end += 1
        block = lines[i:block_end]
        following = lines[block_end] if block_end < len(lines) else ''
        if not opened:
            out.append('/// \\file')
            out.extend(documentation(FULL_LINE.match(l)) for l in block)
            opened = True
        elif following.strip() and not PREPROCESSOR.match(following) and not following.strip().startswith('}'):
            out.extend(documentation(FULL_LINE.match(l)) for l in block)
        else:
            out.extend(block)
        i = block_end
    return out


def main():
    with open(sys.argv[1], encoding='utf-8') as source:
        lines = source.readlines()
    sys.stdout.write('\n'.join(convert(lines)) + '\n')


if __name__ == '__main__':
    main()
