"""A small reader of PE images: headers, imported DLLs and resources, enough to check our builds."""

import struct

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664
SUBSYSTEM_GUI = 2
SUBSYSTEM_CONSOLE = 3

RT_ICON = 3
RT_DIALOG = 5
RT_STRING = 6
RT_GROUP_ICON = 14
RT_MANIFEST = 24

PREDEFINED_CLASSES = {"BUTTON": 0x80, "EDIT": 0x81, "STATIC": 0x82, "LISTBOX": 0x83,
                      "SCROLLBAR": 0x84, "COMBOBOX": 0x85}


class Image:
    def __init__(self, path):
        self.data = open(path, "rb").read()
        data = self.data
        if data[:2] != b"MZ":
            raise ValueError(f"{path}: no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        (self.machine, sections, _, symbols, symbol_count, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        self.symbol_table = (symbols, symbol_count)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.is_pe32_plus = self.magic == 0x20B
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (112 if self.is_pe32_plus else 96)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, virtual_size, address, raw_size, raw_offset = struct.unpack_from(
                "<8sIIII", data, table + 40 * i)
            self.sections.append((self._section_name(name.rstrip(b"\0").decode()), address,
                                  max(virtual_size, raw_size), raw_offset))

    def _section_name(self, name):
        """A name longer than eight characters is "/offset" into the strings after the symbols."""
        if not name.startswith("/") or not self.symbol_table[0]:
            return name
        start = self.symbol_table[0] + 18 * self.symbol_table[1] + int(name[1:])
        return self.data[start:self.data.index(b"\0", start)].decode()

    def offset(self, rva):
        for _, address, size, raw in self.sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise ValueError(f"rva {rva:#x} outside every section")

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imported_dlls(self):
        rva, size = self.directories[1]
        names = []
        if not rva:
            return names
        position = self.offset(rva)
        while True:
            descriptor = struct.unpack_from("<IIIII", self.data, position)
            if not any(descriptor):
                return names
            names.append(self.c_string(descriptor[3]))
            position += 20

    def resources(self):
        """{type: {name: {language: bytes}}}; ids as ints, names as text."""
        rva, _ = self.directories[2]
        if not rva:
            return {}
        base = self.offset(rva)

        def entries(position):
            named, numbered = struct.unpack_from("<HH", self.data, position + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, position + 16 + 8 * i)
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                else:
                    key = name
                yield key, target

        def leaf(target):
            data_rva, size = struct.unpack_from("<II", self.data, base + target)
            start = self.offset(data_rva)
            return self.data[start:start + size]

        tree = {}
        for kind, kind_target in entries(base):
            names = tree.setdefault(kind, {})
            for name, name_target in entries(base + (kind_target & 0x7FFFFFFF)):
                languages = names.setdefault(name, {})
                for language, target in entries(base + (name_target & 0x7FFFFFFF)):
                    languages[language] = leaf(target)
        return tree

    def string_table(self):
        """{id: text} of every RT_STRING block (16 counted UTF-16 strings per block)."""
        strings = {}
        for block, languages in self.resources().get(RT_STRING, {}).items():
            for data in languages.values():
                position = 0
                for i in range(16):
                    length = struct.unpack_from("<H", data, position)[0]
                    position += 2
                    if length:
                        strings[(block - 1) * 16 + i] = data[position:position + 2 * length].decode(
                            "utf-16-le")
                    position += 2 * length
        return strings


def dialog_template(data):
    """A DLGTEMPLATEEX as a dict: style, size, caption, font and the controls in template order."""
    version, signature = struct.unpack_from("<HH", data, 0)
    if (version, signature) != (1, 0xFFFF):
        raise ValueError("not an extended dialog template")
    _, ex_style, style, count, x, y, cx, cy = struct.unpack_from("<IIIHhhhh", data, 4)
    position = 26

    def sz_or_ord(position):
        first = struct.unpack_from("<H", data, position)[0]
        if first == 0xFFFF:
            return struct.unpack_from("<H", data, position + 2)[0], position + 4
        end = position
        while struct.unpack_from("<H", data, end)[0] != 0:
            end += 2
        return data[position:end].decode("utf-16-le"), end + 2

    menu, position = sz_or_ord(position)
    window_class, position = sz_or_ord(position)
    caption, position = sz_or_ord(position)
    dialog = {"ex_style": ex_style, "style": style, "rect": (x, y, cx, cy), "menu": menu,
              "class": window_class, "caption": caption, "font": None, "controls": []}
    if style & 0x40:  # DS_SETFONT
        point_size, weight, italic, charset = struct.unpack_from("<HHBB", data, position)
        face, position = sz_or_ord(position + 6)
        dialog["font"] = (point_size, face)
    for _ in range(count):
        position = (position + 3) & ~3
        _, ex_style, style, x, y, cx, cy, control_id = struct.unpack_from("<IIIhhhhi", data, position)
        position += 24
        control_class, position = sz_or_ord(position)
        # A predefined class written by name is the same class as its atom.
        if isinstance(control_class, str):
            control_class = PREDEFINED_CLASSES.get(control_class.upper(), control_class)
        title, position = sz_or_ord(position)
        extra = struct.unpack_from("<H", data, position)[0]
        position += 2 + extra
        dialog["controls"].append({
            "id": control_id, "class": control_class, "text": title, "style": style,
            "ex_style": ex_style, "rect": (x, y, cx, cy)})
    return dialog


RT_VERSION = 16


def _version_node(data, position):
    """One VS_VERSIONINFO-style node: (key, value bytes, wType, children, end)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, position)
    end = position + length
    key_end = position + 6
    while struct.unpack_from("<H", data, key_end)[0] != 0:
        key_end += 2
    key = data[position + 6:key_end].decode("utf-16-le")
    cursor = (key_end + 2 + 3) & ~3
    # wValueLength counts characters for text values, bytes for binary ones.
    size = value_length * 2 if value_type == 1 else value_length
    value = data[cursor:cursor + size]
    cursor = (cursor + size + 3) & ~3
    children = []
    while cursor < end:
        child = _version_node(data, cursor)
        children.append(child)
        cursor = (child[4] + 3) & ~3
    return key, value, value_type, children, end


def version_info(image):
    """The version resource: {"fixed": {...}, "strings": {table: {name: text}}, "translations": [...]}."""
    languages = image.resources().get(RT_VERSION, {}).get(1)
    if not languages:
        return None
    data = next(iter(languages.values()))
    key, value, _, children, _ = _version_node(data, 0)
    if key != "VS_VERSION_INFO":
        raise ValueError(f"version resource starts with {key!r}")
    signature, _, file_ms, file_ls, product_ms, product_ls, _, flags, os_kind, file_type = \
        struct.unpack_from("<IIIIIIIIII", value, 0)
    if signature != 0xFEEF04BD:
        raise ValueError("no VS_FIXEDFILEINFO signature")

    def numbers(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    info = {"fixed": {"file_version": numbers(file_ms, file_ls),
                      "product_version": numbers(product_ms, product_ls),
                      "flags": flags, "os": os_kind, "type": file_type},
            "strings": {}, "translations": []}
    for child_key, _, _, grandchildren, _ in children:
        if child_key == "StringFileInfo":
            for table, _, _, entries, _ in grandchildren:
                info["strings"][table] = {
                    name: text.decode("utf-16-le").rstrip("\0") for name, text, _, _, _ in entries}
        elif child_key == "VarFileInfo":
            for _, text, _, _, _ in grandchildren:
                info["translations"] += [struct.unpack_from("<HH", text, i)
                                         for i in range(0, len(text), 4)]
    return info


def icons(image):
    """The first icon group as [(width, height, bit count, image bytes)], in the group's order."""
    tree = image.resources()
    groups = tree.get(RT_GROUP_ICON, {})
    if not groups:
        return []
    group = next(iter(next(iter(groups.values())).values()))
    count = struct.unpack_from("<H", group, 4)[0]
    found = []
    for i in range(count):
        width, height, _, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        data = next(iter(tree[RT_ICON][icon_id].values()))
        found.append((width or 256, height or 256, bits, data))
    return found


def icon_file(path):
    """The images of an .ico file in the same form as icons()."""
    data = open(path, "rb").read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if (reserved, kind) != (0, 1):
        raise ValueError(f"{path}: not an icon file")
    found = []
    for i in range(count):
        width, height, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        found.append((width or 256, height or 256, bits, data[offset:offset + size]))
    return found


def icon_pixels(image):
    """A 32-bit icon image (a DIB, as icon_file gives it) as ARGB values row by row from the top."""
    header, width, height = struct.unpack_from("<Iii", image, 0)
    # The colour rows from the bottom, then the mask's.
    rows = [struct.unpack_from(f"<{width}I", image, header + 4 * width * row) for row in range(height // 2)]
    return [value for row in reversed(rows) for value in row]
