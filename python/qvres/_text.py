"""Text from a results file: decoded as the tools decode it, and shown on a
terminal or in VTK as the tools show it. Names of parts, materials,
variables and files are the solver's, or whoever wrote the file: escape
sequences among them would retitle, recolour or clear a terminal."""
import codecs
import re


def _latin1(error):
    # The solver writes names in a single-byte code page: a byte that starts
    # no valid UTF-8 sequence is taken as Latin-1, as the tools take it.
    raw = error.object[error.start:error.end]
    return raw.decode("latin-1"), error.end


codecs.register_error("qvres-latin-1", _latin1)

# U+FFFE and U+FFFF decode as UTF-8 in Python; XML cannot hold them, and the
# tools take their bytes as Latin-1 like any other invalid sequence.
_NONCHARACTERS = {"\ufffe": "\u00ef\u00bf\u00be", "\uffff": "\u00ef\u00bf\u00bf"}


def from_file(raw):
    """Bytes of a results file as text: valid UTF-8 as such, any other byte
    as Latin-1 (nothing is lost or replaced)."""
    text = raw.decode("utf-8", "qvres-latin-1")
    if "\ufffe" in text or "\uffff" in text:
        text = "".join(_NONCHARACTERS.get(c, c) for c in text)
    return text


# C0 but line feed and tab, DEL, and the C1 controls.
_TERMINAL = re.compile("[\x00-\x08\x0b-\x1f\x7f-\x9f]")


def terminal_text(text):
    """`text` safe to show on a terminal, as the tools show text from a file:
    control characters (C0 but line feed and tab, DEL, C1; escape sequences
    among them) as \\xNN."""
    return _TERMINAL.sub(lambda m: f"\\x{ord(m.group()):02x}", str(text))


_LINE_ENDS = re.compile("\r\n?")
_XML_CONTROL = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\x7f-\x9f]")
_XML_BLANKS = re.compile("[\t\n]")


def vtk_text(text):
    """A name as VTK reads it from the files qvres-to-vtk writes: control
    characters (C0, which XML cannot hold; DEL and C1, which it writes as
    '?' too) as '?', tabs and line ends as a blank
    (an XML reader's normalisation of the attribute holding the name)."""
    text = _XML_CONTROL.sub("?", str(text))
    return _XML_BLANKS.sub(" ", _LINE_ENDS.sub("\n", text))
