"""A strict reader of the .vtu files qvres-to-vtk writes: every array in one
appended block, 64-bit headers, raw or zlib-compressed in VTK's block form.
Independent of meshio (whose 7.0 release mismatches appended arrays whose
re-encoded offsets collide), and stricter: the arrays must tile the
appended block exactly, and every compressed block must inflate to the size
its header states."""
import struct
import xml.etree.ElementTree as ET
import zlib

import numpy as np

TYPES = {"Float32": np.float32, "Float64": np.float64, "Int32": np.int32, "Int64": np.int64, "UInt8": np.uint8}


class Vtu:
    """root: the XML element tree; arrays: name -> numpy array, (n, components)
    for vectors ("Points" for the points); compressed: whether it was."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        start = data.index(b"<AppendedData")
        self.root = ET.fromstring(data[:start] + b"</VTKFile>")
        base = data.index(b"_", start) + 1
        end = data.rindex(b"\n  </AppendedData>")
        block = data[base:end]
        assert self.root.get("header_type") == "UInt64", self.root.attrib
        order = "<" if self.root.get("byte_order") == "LittleEndian" else ">"
        compressor = self.root.get("compressor")
        assert compressor in (None, "vtkZLibDataCompressor"), compressor
        self.compressed = compressor is not None
        self.arrays = {}
        spans = []
        for tag in self.root.iter("DataArray"):
            assert tag.get("format") == "appended", tag.attrib
            offset = int(tag.get("offset"))
            raw, used = (self._inflate if self.compressed else self._raw)(block, offset, order)
            spans.append((offset, offset + used))
            values = np.frombuffer(raw, dtype=np.dtype(TYPES[tag.get("type")]).newbyteorder(order))
            components = int(tag.get("NumberOfComponents", "1"))
            if components > 1:
                values = values.reshape(-1, components)
            self.arrays[tag.get("Name", "Points")] = values
        spans.sort()
        assert spans[0][0] == 0 and spans[-1][1] == len(block), "the arrays do not fill the appended block"
        assert all(a[1] == b[0] for a, b in zip(spans, spans[1:])), "arrays overlap or leave gaps"

    @staticmethod
    def _raw(block, offset, order):
        (size,) = struct.unpack(order + "Q", block[offset:offset + 8])
        return block[offset + 8:offset + 8 + size], 8 + size

    @staticmethod
    def _inflate(block, offset, order):
        count, size, last = struct.unpack(order + "3Q", block[offset:offset + 24])
        sizes = struct.unpack(order + f"{count}Q", block[offset + 24:offset + 24 + 8 * count])
        at = offset + 24 + 8 * count
        out = []
        for k, n in enumerate(sizes):
            piece = zlib.decompress(block[at:at + n])
            expected = last if k == count - 1 and last else size
            assert len(piece) == expected, f"block {k} inflates to {len(piece)} bytes, not {expected}"
            out.append(piece)
            at += n
        return b"".join(out), at - offset

    def point_arrays(self):
        return [t.get("Name") for t in self.root.find(".//PointData")]

    def cell_arrays(self):
        return [t.get("Name") for t in self.root.find(".//CellData")]
