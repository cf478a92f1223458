#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes settings into a registry file as the panel would have stored them, for scripts that
start the panel on known settings (screenshots, benchmarks, the memcheck session).

    scripts/seed_registry.py FILE CONTEXT NAME=NUMBER... NAME:=TEXT...

NUMBER is stored as REG_DWORD, TEXT as REG_SZ with its NUL; the file and its keys are created
when missing.
"""
import sqlite3
import struct
import sys

SCHEMA = """
CREATE TABLE IF NOT EXISTS registry_key(path TEXT PRIMARY KEY COLLATE NOCASE);
CREATE TABLE IF NOT EXISTS registry_value(
    key TEXT NOT NULL COLLATE NOCASE REFERENCES registry_key(path) ON DELETE CASCADE,
    name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL,
    PRIMARY KEY(key, name));
"""


def seed(path, context, values):
    db = sqlite3.connect(path)
    db.executescript(SCHEMA)
    key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvern Software\\" + context
    parts = key.split("\\")
    for depth in range(1, len(parts) + 1):
        db.execute("INSERT OR IGNORE INTO registry_key VALUES (?)", ("\\".join(parts[:depth]),))
    for item in values:
        if ":=" in item:
            name, text = item.split(":=", 1)
            row = (key, name, 1, text.encode("utf-8") + b"\0")
        else:
            name, number = item.split("=", 1)
            row = (key, name, 4, struct.pack("<i", int(number)))
        db.execute("INSERT OR REPLACE INTO registry_value VALUES (?, ?, ?, ?)", row)
    db.commit()
    db.close()


if __name__ == "__main__":
    seed(sys.argv[1], sys.argv[2], sys.argv[3:])
