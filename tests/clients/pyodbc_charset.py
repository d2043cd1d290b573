#!/usr/bin/python3
"""Text through pyodbc on a server whose default character set is latin1.

The connection names no character set. With narrow calls (SQLExecDirect,
SQL_C_CHAR, UTF-8 bytes) and with wide calls (SQLExecDirectW, SQL_C_WCHAR,
UTF-16), chosen with pyodbc's setencoding/setdecoding, '🌜' and 'Grüße' go
in as parameters and as statement text, into a column of the database's
default character set (latin1) and a utf8mb4 one, and come back unchanged;
the server's own client confirms what was stored (no 'GrÃ¼ÃŸe', no '?').
(Narrow statement text cannot carry '🌜' through unixODBC: see run().)

Reads the server's coordinates from the file named by QV_SERVER_ENV.
Exits 0 when every check passes, 1 otherwise (each failure is printed).
"""
import subprocess
import sys

import pyodbc

from qv_client import check, failures, server_env


def stored(env, sql):
    """One value through the server's own client, as UTF-8 text."""
    out = subprocess.run(['mariadb', f"--defaults-file={env['QV_CLIENT_CNF']}", '--batch',
                          '--skip-column-names', env['QV_DATABASE'], '-e', sql],
                         capture_output=True, check=True)
    return bytes.fromhex(out.stdout.decode('ascii').strip()).decode('utf-8')


def connect(conn_str, wide):
    cn = pyodbc.connect(conn_str, autocommit=True)
    if wide:
        cn.setdecoding(pyodbc.SQL_CHAR, encoding='utf-16le', ctype=pyodbc.SQL_WCHAR)
        cn.setdecoding(pyodbc.SQL_WCHAR, encoding='utf-16le', ctype=pyodbc.SQL_WCHAR)
        cn.setdecoding(pyodbc.SQL_WMETADATA, encoding='utf-16le')
        cn.setencoding(encoding='utf-16le', ctype=pyodbc.SQL_WCHAR)
    else:
        cn.setdecoding(pyodbc.SQL_CHAR, encoding='utf-8', ctype=pyodbc.SQL_CHAR)
        cn.setdecoding(pyodbc.SQL_WCHAR, encoding='utf-8', ctype=pyodbc.SQL_CHAR)
        cn.setencoding(encoding='utf-8', ctype=pyodbc.SQL_CHAR)
    return cn


def run(env, mode, conn_str, wide):
    table = f'qv_pyodbc_cs_{mode}'
    cn = connect(conn_str, wide)
    cur = cn.cursor()
    cur.execute(f'DROP TABLE IF EXISTS {table}')
    # t_default takes the database's character set: latin1 on this server
    cur.execute(f'CREATE TABLE {table} (id INT PRIMARY KEY, t_default VARCHAR(20),'
                f' t_utf8mb4 VARCHAR(20) CHARACTER SET utf8mb4)')
    check(f'{mode} default column set', stored(
        env, f"SELECT HEX(character_set_name) FROM information_schema.columns WHERE"
             f" table_schema = DATABASE() AND table_name = '{table}' AND column_name = 't_default'"),
        'latin1')
    cases = [(1, 't_default', 'Grüße'), (2, 't_utf8mb4', 'Grüße'), (3, 't_utf8mb4', '🌜')]
    for row, column, text in cases:
        what = f'{mode} {column} {text}'
        # as a parameter
        cur.execute(f'INSERT INTO {table} (id, {column}) VALUES (?, ?)', row, text)
        check(f'{what} stored from a parameter',
              stored(env, f'SELECT HEX(CONVERT({column} USING utf8mb4)) FROM {table} WHERE id = {row}'),
              text)
        check(f'{what} read', cur.execute(f'SELECT {column} FROM {table} WHERE id = ?', row).fetchone()[0],
              text)
        check(f'{what} found by a parameter',
              cur.execute(f'SELECT id FROM {table} WHERE {column} = ?', text).fetchone()[0], row)
        # As statement text. pyodbc connects with SQLDriverConnectW, so the
        # driver manager turns its narrow SQLExecDirect into SQLExecDirectW,
        # through UCS-2 (unixODBC 2.3): a character beyond the BMP cannot
        # pass that way, whatever the driver does. Wide calls carry it.
        if not wide and max(map(ord, text)) > 0xFFFF:
            continue
        cur.execute(f"UPDATE {table} SET {column} = NULL WHERE id = {row}")
        cur.execute(f"UPDATE {table} SET {column} = '{text}' WHERE id = {row}")
        check(f'{what} stored from statement text',
              stored(env, f'SELECT HEX(CONVERT({column} USING utf8mb4)) FROM {table} WHERE id = {row}'),
              text)
        check(f'{what} literal read', cur.execute(f"SELECT '{text}'").fetchone()[0], text)
    cur.execute(f'DROP TABLE {table}')
    cn.close()


def main():
    env = server_env()
    conn_str = (f"DRIVER={{{env['QV_DRIVER_NAME']}}};SERVER={env['QV_HOST']};PORT={env['QV_PORT']};"
                f"UID={env['QV_USER']};PWD={env['QV_PASSWORD']};DATABASE={env['QV_DATABASE']};")
    for mode, wide in (('narrow', False), ('wide', True)):
        try:
            run(env, mode, conn_str, wide)
        except (pyodbc.Error, subprocess.CalledProcessError, UnicodeError) as e:
            failures.append(f'{mode}: {e}')
    for f in failures:
        print('FAIL', f)
    print('pyodbc charset client:', 'ok' if not failures else f'{len(failures)} failure(s)')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
