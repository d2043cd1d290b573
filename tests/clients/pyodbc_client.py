#!/usr/bin/python3
"""A generic ODBC client against the driver: pyodbc through unixODBC.

Connects through the private DSN and by driver name, runs a parameterised
query, reads the rows and cursor.description back, and commits and rolls
back a transaction (checked from a second connection), once with narrow
(SQL_CHAR) and once with wide (SQL_WCHAR) text, with non-Latin text.

Reads the server's coordinates from the file named by QV_SERVER_ENV; the
driver manager finds the private ini files through ODBCSYSINI/ODBCINI.
Exits 0 when every check passes, 1 otherwise (each failure is printed).
"""
import decimal
import os
import sys

import pyodbc

from qv_client import check, failures, server_env

TEXT = 'Grüße, мир, 漢字, 😀'


def connect(conn_str, wide, autocommit=True):
    cn = pyodbc.connect(conn_str, autocommit=autocommit)
    if wide:
        # Text parameters and results through the W calls and SQL_C_WCHAR.
        cn.setdecoding(pyodbc.SQL_CHAR, encoding='utf-16le')
        cn.setdecoding(pyodbc.SQL_WCHAR, encoding='utf-16le')
        cn.setdecoding(pyodbc.SQL_WMETADATA, encoding='utf-16le')
        cn.setencoding(encoding='utf-16le', ctype=pyodbc.SQL_WCHAR)
    else:
        # Narrow calls and SQL_C_CHAR, the bytes UTF-8 (the logon to a
        # utf8mb4 server makes the driver's narrow text UTF-8).
        cn.setdecoding(pyodbc.SQL_CHAR, encoding='utf-8')
        cn.setdecoding(pyodbc.SQL_WCHAR, encoding='utf-8', ctype=pyodbc.SQL_CHAR)
        cn.setencoding(encoding='utf-8', ctype=pyodbc.SQL_CHAR)
    return cn


def rows_of(conn_str, sql, *params):
    cn = pyodbc.connect(conn_str, autocommit=True)
    try:
        return [tuple(r) for r in cn.cursor().execute(sql, *params).fetchall()]
    finally:
        cn.close()


def run(mode, conn_str, wide):
    table = f'qv_pyodbc_{mode}'
    cn = connect(conn_str, wide)
    cur = cn.cursor()
    cur.execute(f'DROP TABLE IF EXISTS {table}')
    cur.execute(f'CREATE TABLE {table} (id INT NOT NULL PRIMARY KEY, label VARCHAR(40) NOT NULL,'
                f' amount DECIMAL(8,2)) CHARACTER SET utf8mb4')
    cur.executemany(f'INSERT INTO {table} VALUES (?, ?, ?)',
                    [(1, TEXT, '1.50'), (2, 'plain', None), (3, TEXT[::-1], '-2.25')])

    # A query with a parameter: the rows and their description.
    cur.execute(f'SELECT id, label, amount FROM {table} WHERE id >= ? ORDER BY id', 1)
    desc = [(d[0], d[1], d[6]) for d in cur.description]
    check(f'{mode} description', desc,
          [('id', int, False), ('label', str, False), ('amount', decimal.Decimal, True)])
    rows = [tuple(r) for r in cur.fetchall()]
    check(f'{mode} rows', rows, [(1, TEXT, decimal.Decimal('1.50')), (2, 'plain', None),
                                 (3, TEXT[::-1], decimal.Decimal('-2.25'))])
    cur.execute(f'SELECT label FROM {table} WHERE label = ?', TEXT)
    check(f'{mode} text parameter', cur.fetchall()[0][0], TEXT)
    cur.execute('SELECT CHAR_LENGTH(?)', TEXT)
    check(f'{mode} characters sent', cur.fetchone()[0], len(TEXT))
    cn.close()

    # A transaction committed, one rolled back; a second connection looks.
    tx = connect(conn_str, wide, autocommit=False)
    tcur = tx.cursor()
    tcur.execute(f'INSERT INTO {table} VALUES (10, ?, NULL)', TEXT + ' commit')
    check(f'{mode} uncommitted is invisible', rows_of(conn_str, f'SELECT id FROM {table} WHERE id = 10'), [])
    tx.commit()
    check(f'{mode} committed', rows_of(conn_str, f'SELECT label FROM {table} WHERE id = 10'),
          [(TEXT + ' commit',)])
    tcur.execute(f'INSERT INTO {table} VALUES (11, ?, NULL)', TEXT + ' rollback')
    tcur.execute(f'DELETE FROM {table} WHERE id = 1')
    tx.rollback()
    check(f'{mode} rolled back', rows_of(conn_str, f'SELECT id FROM {table} WHERE id IN (1, 11) ORDER BY id'),
          [(1,)])
    tx.close()
    cn = pyodbc.connect(conn_str, autocommit=True)
    cn.cursor().execute(f'DROP TABLE {table}')
    cn.close()


def dsn_spellings(env):
    """Logs on through the DSN written with User/Password/Database and the
    one written with UID/PWD/DB: both give the same user and database."""
    for dsn in (env['QV_DSN'], env['QV_DSN'] + '_uid'):
        try:
            got = rows_of(f'DSN={dsn};', 'SELECT SUBSTRING_INDEX(USER(), "@", 1), DATABASE()')
        except pyodbc.Error as e:
            failures.append(f'DSN {dsn}: {e}')
            continue
        check(f'DSN {dsn}: user and database', got, [(env['QV_USER'], env['QV_DATABASE'])])


def main():
    env = server_env()
    by_driver = (f"DRIVER={{{env['QV_DRIVER_NAME']}}};SERVER={env['QV_HOST']};PORT={env['QV_PORT']};"
                 f"UID={env['QV_USER']};PWD={env['QV_PASSWORD']};DATABASE={env['QV_DATABASE']};")
    by_dsn = f"DSN={env['QV_DSN']};"
    # a run may add settings of its own (QV_CONN_EXTRA, e.g. NoBinaryDirect=1)
    extra = os.environ.get('QV_CONN_EXTRA', '')
    if extra:
        by_driver += extra + ';'
        by_dsn += extra + ';'
    for mode, conn_str, wide in (('narrow', by_dsn, False), ('wide', by_dsn, True),
                                 ('driver', by_driver, True)):
        try:
            run(mode, conn_str, wide)
        except pyodbc.Error as e:
            failures.append(f'{mode}: {e}')
    dsn_spellings(env)
    for f in failures:
        print('FAIL', f)
    print('pyodbc client:', 'ok' if not failures else f'{len(failures)} failure(s)')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
