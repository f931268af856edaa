#!/usr/bin/python3
"""Makes the small CJK face the views draw the program's own texts with.

The face is a subset of one face of the system's Noto Sans CJK collection (Debian's
fonts-noto-cjk, SIL Open Font License 1.1): only the non-ASCII characters found in the
string literals of the given C++ sources and in the given Qt Linguist files, under a family
name of its own so that it cannot be taken for the full font. Loading the full face for
some forty characters maps megabytes of it and its tables; the subset keeps the same glyphs
(the Simplified Chinese forms) and the same metrics.

    subset_texts_font.py --collection NotoSansCJK-Regular.ttc --face "Noto Sans CJK SC"
        --family "Korvanta Texts CJK" --output KorvantaTextsCJK-Regular.otf
        [--characters OUT.txt] SOURCES...
"""

import argparse
import re
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

from fontTools import subset
from fontTools.ttLib import TTCollection, TTFont

# A C/C++ comment, character literal or string literal (prefixes such as u8 or L are
# harmless: only the quoted part is kept). Raw strings are not used in the sources.
TOKEN = re.compile(r"""//[^\n]*|/\*.*?\*/|'(?:\\.|[^'\\\n])*'|"((?:\\.|[^"\\\n])*)\"""", re.S)
UNICODE_ESCAPE = re.compile(r"\\u([0-9a-fA-F]{4})|\\U([0-9a-fA-F]{8})")

# Name records that carry the font's own name; the others (copyright, licence, designers,
# version) stay as they are.
NAME_IDS_RENAMED = (1, 3, 4, 6, 16, 17, 18, 20, 21)


def literal_texts(source):
    """The contents of the string literals of a C++ source, \\u escapes decoded."""
    for match in TOKEN.finditer(source):
        if match.group(1) is not None:
            yield UNICODE_ESCAPE.sub(
                lambda m: chr(int(m.group(1) or m.group(2), 16)), match.group(1))


def linguist_texts(path):
    """The source texts and translations of a Qt Linguist file."""
    root = ElementTree.parse(path).getroot()
    for element in root.iter():
        if element.tag in ("source", "translation", "numerusform") and element.text:
            yield element.text


def program_characters(paths):
    characters = set()
    for path in paths:
        if path.suffix == ".ts":
            texts = linguist_texts(path)
        else:
            texts = literal_texts(path.read_text(encoding="utf-8"))
        for text in texts:
            characters.update(c for c in text if ord(c) > 0x7F)
    return characters


def face_index(collection_path, face):
    collection = TTCollection(str(collection_path), lazy=True)
    for index, font in enumerate(collection.fonts):
        if font["name"].getDebugName(1) == face:
            return index
    sys.exit("%s has no face named %r" % (collection_path, face))


def rename(font, face, family):
    """Gives the subset its own family and PostScript names in the name and CFF tables."""
    old_ps = face.replace(" ", "")
    new_ps = family.replace(" ", "")

    def renamed(text):
        # Any region of the collection: its shared CFF table carries the first face's (JP)
        # names. PostScript names spell the region in lower case (NotoSansCJKsc-Bold).
        text = re.sub(re.escape(face[:-2]) + r"[A-Z]{2}", family, text)
        return re.sub(re.escape(old_ps[:-2]) + r"[a-z]{2}", new_ps, text)

    for record in font["name"].names:
        if record.nameID in NAME_IDS_RENAMED:
            record.string = renamed(record.toUnicode())
    cff = font["CFF "].cff
    top = cff[cff.fontNames[0]]
    cff.fontNames = [renamed(name) for name in cff.fontNames]
    for key in ("FullName", "FamilyName"):
        if hasattr(top, key):
            setattr(top, key, renamed(getattr(top, key)))
    for sub_font in getattr(top, "FDArray", []):
        if hasattr(sub_font, "FontName"):
            sub_font.FontName = renamed(sub_font.FontName)
    leftovers = [r.toUnicode() for r in font["name"].names
                 if r.nameID in NAME_IDS_RENAMED and "Noto" in r.toUnicode()]
    if leftovers or any("Noto" in name for name in cff.fontNames):
        sys.exit("the subset still carries the original name: %s" % leftovers)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--collection", type=Path, required=True)
    parser.add_argument("--face", required=True)
    parser.add_argument("--family", required=True)
    parser.add_argument("--output", type=Path, required=True)
    parser.add_argument("--characters", type=Path, help="write the characters kept here")
    parser.add_argument("sources", type=Path, nargs="+")
    args = parser.parse_args()

    characters = program_characters(args.sources)
    # The original's time stamps stay, so the build gives the same bytes each time.
    font = TTFont(str(args.collection), fontNumber=face_index(args.collection, args.face),
                  recalcTimestamp=False)
    cmap = font.getBestCmap()
    missing = sorted(c for c in characters if ord(c) not in cmap)
    if missing:
        # Drawn by the system's fallback fonts instead; worth knowing, not worth failing.
        print("%s lacks %s" % (args.face, " ".join("U+%04X" % ord(c) for c in missing)),
              file=sys.stderr)

    options = subset.Options()
    options.name_IDs = ["*"]  # the copyright and licence records travel with the glyphs
    options.name_languages = ["*"]
    options.notdef_outline = True
    subsetter = subset.Subsetter(options)
    subsetter.populate(unicodes=sorted(ord(c) for c in characters if ord(c) in cmap))
    subsetter.subset(font)
    rename(font, args.face, args.family)

    args.output.parent.mkdir(parents=True, exist_ok=True)
    font.save(str(args.output))
    if args.characters:
        args.characters.write_text("".join(sorted(characters)) + "\n", encoding="utf-8")


if __name__ == "__main__":
    main()
