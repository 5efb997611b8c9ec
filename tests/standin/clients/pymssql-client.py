# Drives quill-standin with Debian's pymssql and prints what it saw, one
# line per event: python3 pymssql-client.py PORT PASSWORD, with the SQL
# batches as a JSON list in STANDIN_CLIENT_STEPS. Autocommit stays off, as
# by default, so that the transaction statements pymssql sends are used.
import json
import os
import sys

import pymssql

port, password = sys.argv[1], sys.argv[2]
try:
    conn = pymssql.connect(server="127.0.0.1", port=port, user="sa", password=password,
                           database="Shop", tds_version="7.3", login_timeout=10)
except pymssql.Error as e:
    number, text = e.args[0] if e.args and isinstance(e.args[0], tuple) else (0, str(e).encode())
    print("login-failed", number, text.decode().split("DB-Lib error")[0].strip())
    sys.exit(2)


def show(v):
    if v is None:
        return "NULL"
    if isinstance(v, (bytes, bytearray)):
        return "0x" + v.hex()
    return str(v)


def messages(state, severity, server, proc, line, text):
    print("message", severity, text.decode() if isinstance(text, bytes) else text)


conn._conn.set_msghandler(messages)
cursor = conn.cursor()
for sql in json.loads(os.environ["STANDIN_CLIENT_STEPS"]):
    try:
        cursor.execute(sql)
        while True:
            if cursor.description:
                print("columns", "|".join(d[0] for d in cursor.description))
                for row in cursor.fetchall():
                    print("row", "|".join(show(v) for v in row))
            print("count", cursor.rowcount)
            if not cursor.nextset():
                break
    except pymssql.Error as e:
        number, text = e.args[0], e.args[1]
        print("error", number, text.decode().split("DB-Lib error")[0].strip())
conn.commit()
conn.close()
