#!/usr/bin/env python3
"""Writes one hostile archive for the unpacking tests.

Usage: hostile_archives.py KIND OUTPUT OUTSIDE

OUTSIDE is an absolute folder beside the destination that the archive tries to reach (its
file "secret" has mode 0600). The archive is written to OUTPUT whatever its extension; tar
archives given a .zip or .bin name are recognised by content.
"""

import io
import os
import stat
import sys
import tarfile
import zipfile


def tar_entry(archive, name, kind=tarfile.REGTYPE, data=b"", link="", mode=0o644, device=(0, 0)):
    info = tarfile.TarInfo(name)
    info.type = kind
    info.mode = mode
    info.linkname = link
    info.devmajor, info.devminor = device
    info.size = len(data) if kind == tarfile.REGTYPE else 0
    archive.addfile(info, io.BytesIO(data) if kind == tarfile.REGTYPE else None)


def write_tar(output, entries, hard_link_with_data=None, raw_names=False):
    buffer = io.BytesIO()
    write_tar_to(buffer, entries, hard_link_with_data, raw_names)
    with open(output, "wb") as file:
        file.write(buffer.getvalue())
    return buffer.getvalue()


def write_tar_to(buffer, entries, hard_link_with_data=None, raw_names=False):
    # Raw names: each character of a name is written as the one byte of the same value.
    options = {"format": tarfile.GNU_FORMAT, "encoding": "latin-1"} if raw_names else {"format": tarfile.PAX_FORMAT}
    with tarfile.open(fileobj=buffer, mode="w", **options) as archive:
        for entry in entries:
            tar_entry(archive, **entry)
        if hard_link_with_data:
            # tarfile writes no data for links; the header and the block go in by hand.
            name, target = hard_link_with_data
            info = tarfile.TarInfo(name)
            info.type = tarfile.LNKTYPE
            info.linkname = target
            info.mode = 0o777
            info.size = 5
            info.pax_headers = {"size": "5"}
            archive.fileobj.write(info.tobuf(archive.format, archive.encoding, archive.errors))
            archive.fileobj.write(b"data!" + b"\0" * 507)
            archive.offset = archive.fileobj.tell()


def write_zip(output, entries):
    with zipfile.ZipFile(output, "w") as archive:
        for name, data, mode in entries:
            info = zipfile.ZipInfo()
            info.filename = name  # set directly: ZipInfo() would turn backslashes into slashes
            info.create_system = 3
            info.external_attr = mode << 16
            archive.writestr(info, data)


def write_zip_raw_names(output, entries):
    """A ZIP whose names are raw bytes without the UTF-8 flag, as code-page archivers write."""
    class RawName(zipfile.ZipInfo):
        def __init__(self, raw):
            super().__init__(raw.decode("latin-1"))
            self.raw = raw

        def _encodeFilenameFlags(self):
            return self.raw, self.flag_bits

    with zipfile.ZipFile(output, "w") as archive:
        for raw, data in entries:
            archive.writestr(RawName(raw), data)


def through_link(member, outside):
    """Entries that, extracted as `member`, write through a link to OUTSIDE/secret and give it
    mode 0777: a link below the member's name, then a hard link to it carrying data."""
    return [{"name": member + "/s", "kind": tarfile.SYMTYPE, "link": outside + "/secret"}], (member + "/bar", member + "/s")


def tar_bytes(entries, hard_link_with_data=None):
    buffer = io.BytesIO()
    write_tar_to(buffer, entries, hard_link_with_data)
    return buffer.getvalue()


def game_entries(prefix=""):
    return [
        {"name": prefix + "halo2.exe", "data": b"MZ game"},
        {"name": prefix + "xlive.dll", "data": b"MZ xlive"},
        {"name": prefix + "maps/shared.map", "data": b"shared"},
        {"name": prefix + "maps/mainmenu.map", "data": b"mainmenu"},
        {"name": prefix + "maps/single_player_shared.map", "data": b"sp"},
    ]


def main():
    kind, output, outside = sys.argv[1], sys.argv[2], sys.argv[3]
    regular = stat.S_IFREG | 0o644
    link = stat.S_IFLNK | 0o777
    game = game_entries()

    if kind == "absolute":
        write_tar(output, game + [{"name": outside + "/planted.txt", "data": b"x"}])
    elif kind == "parent":
        write_tar(output, game + [{"name": "maps/../../../../canary/planted.txt", "data": b"x"}])
    elif kind == "backslash-parent":
        # A tar keeps backslashes as listed (the ZIP reader turns them into slashes itself).
        write_tar(output, game + [{"name": "..\\..\\..\\canary\\planted.txt", "data": b"x"}])
    elif kind == "backslash-absolute":
        write_tar(output, game + [{"name": "\\planted.txt", "data": b"x"}])
    elif kind == "drive-letter":
        write_zip(output, [(e["name"], e["data"], regular) for e in game] + [("C:\\planted.txt", b"x", regular)])
    elif kind == "drive-letter-tar":
        write_tar(output, game + [{"name": "c:planted.txt", "data": b"x"}])
    elif kind == "symlink-write":
        # A link to the outside folder, then a file written through it.
        write_tar(output, game + [
            {"name": "escape", "kind": tarfile.SYMTYPE, "link": outside},
            {"name": "escape/planted.txt", "data": b"x"},
        ])
    elif kind == "symlink-left":
        write_zip(output, [(e["name"], e["data"], regular) for e in game]
                  + [("escape", outside + "/secret", link)])
    elif kind == "symlink-inside":
        write_zip(output, [(e["name"], e["data"], regular) for e in game] + [("alias.exe", "halo2.exe", link)])
    elif kind == "symlink-hardlink":
        # A hard link to a symbolic link, carrying data as pax allows: the archiver opens it
        # through the link and gives the outside file the entry's permission bits.
        write_tar(output, game + [{"name": "s", "kind": tarfile.SYMTYPE, "link": "../../../canary/secret"}],
                  hard_link_with_data=("bar", "s"))
    elif kind == "hardlink-absolute":
        write_tar(output, game + [
            {"name": "h", "kind": tarfile.LNKTYPE, "link": outside + "/secret", "mode": 0o777},
        ])
    elif kind == "fifo":
        write_tar(output, game + [{"name": "pipe", "kind": tarfile.FIFOTYPE}])
    elif kind == "device":
        write_tar(output, game + [
            {"name": "null", "kind": tarfile.CHRTYPE, "device": (1, 3), "mode": 0o666},
            {"name": "disk", "kind": tarfile.BLKTYPE, "device": (7, 0), "mode": 0o666},
        ])
    elif kind == "warning":
        # A damaged block after the last entry: the tool lists, warns, and still exits 0.
        data = write_tar(output, game)
        with open(output, "wb") as file:
            file.write(data[:512 * 2 * len(game)] + b"\x01" * 512)
    elif kind == "locked-folder":
        # Folders its owner may not open: without care they outlive the staging folder.
        write_tar(output, [
            {"name": "locked/", "kind": tarfile.DIRTYPE, "mode": 0},
            {"name": "locked/inner/", "kind": tarfile.DIRTYPE, "mode": 0},
            {"name": "locked/inner/file", "data": b"x", "mode": 0},
        ])
    elif kind == "empty":
        write_tar(output, [])
    elif kind == "inner-hostile":
        # The installer's ZIP whose inner h2pc_data.bin holds the link and hard link.
        inner = output + ".inner"
        write_tar(inner, game + [
            {"name": "s", "kind": tarfile.SYMTYPE, "link": outside + "/secret"},
            {"name": "bar", "kind": tarfile.LNKTYPE, "link": "s", "mode": 0o777},
        ])
        with open(inner, "rb") as file:
            payload = file.read()
        os.remove(inner)
        write_zip(output, [("h2pc_installer_2.1/h2pc_installer.exe", b"MZ", regular),
                           ("h2pc_installer_2.1/h2pc_data.bin", payload, regular)])
    elif kind == "codepage-names":
        # Names starting with a Latin-1 and a control byte: harmless, though listed as escapes.
        write_tar(output, game + [{"name": "\x9aber.txt", "data": b"latin"}, {"name": "\x01start.txt", "data": b"control"}],
                  raw_names=True)
    elif kind == "codepage-names-zip":
        write_zip_raw_names(output, [(e["name"].encode(), e["data"]) for e in game]
                            + [(b"\x9aber.txt", b"latin"), (b"\x01start.txt", b"control")])
    elif kind.startswith("redistributable-") or kind.startswith("cabinet-"):
        # A DirectX redistributable, or the cabinet inside one, aimed at the first library.
        cabinet, library = "OCT2006_d3dx9_31_x86.cab", "d3dx9_31.dll"
        attack = kind.split("-", 1)[1]
        member = cabinet if kind.startswith("redistributable-") else library
        if attack == "through-link":
            entries, hard_link = through_link(member, outside)
            payload = tar_bytes(entries, hard_link)
        elif attack == "member-link":
            payload = tar_bytes([{"name": member, "kind": tarfile.SYMTYPE, "link": outside + "/secret"}])
        elif attack == "member-twice":
            payload = tar_bytes([{"name": member, "data": b"first"}, {"name": "./" + member, "data": b"second"}])
        elif attack == "not-an-archive":
            payload = b"MZ this is no archive"
        else:
            sys.exit("unknown kind " + kind)
        if kind.startswith("cabinet-"):
            payload = tar_bytes([{"name": cabinet, "data": payload}])
        with open(output, "wb") as file:
            file.write(payload)
    else:
        sys.exit("unknown kind " + kind)


if __name__ == "__main__":
    main()
