#!/usr/bin/python3
"""The nested loop of every client library, through pyodbc: two cursors on
one connection, the first reading a SELECT row by row while the second runs
an UPDATE and a second SELECT for each row.

With results held in memory (the default) the loop runs through. With
NoCache=1 the first cursor's rows stream from the wire and hold the
connection: the second cursor's execution fails with HY000 "connection is
busy with results of another hstmt" until the first result is read to its
end, and SQL_MAX_CONCURRENT_ACTIVITIES says 1 instead of 0.

Reads the server's coordinates from the file named by QV_SERVER_ENV; the
driver manager finds the private ini files through ODBCSYSINI/ODBCINI.
Exits 0 when every check passes, 1 otherwise (each failure is printed).
"""
import sys

import pyodbc

# the generic client's helpers: its failure list is this script's too
from pyodbc_client import check, failures, server_env

BUSY = 'connection is busy with results of another hstmt'


def seed(cn):
    cur = cn.cursor()
    cur.execute('DROP TABLE IF EXISTS qv_nested_outer')
    cur.execute('DROP TABLE IF EXISTS qv_nested_inner')
    cur.execute('CREATE TABLE qv_nested_outer (id INT PRIMARY KEY)')
    cur.execute('INSERT INTO qv_nested_outer VALUES (1), (2), (3), (4)')
    cur.execute('CREATE TABLE qv_nested_inner (id INT PRIMARY KEY, n INT)')
    cur.execute('INSERT INTO qv_nested_inner VALUES (1, 0), (2, 0), (3, 0), (4, 0)')
    cur.close()


def cached(conn_str):
    cn = pyodbc.connect(conn_str, autocommit=True)
    seed(cn)
    check('cached: SQL_MAX_CONCURRENT_ACTIVITIES',
          cn.getinfo(pyodbc.SQL_MAX_CONCURRENT_ACTIVITIES), 0)
    outer, inner = cn.cursor(), cn.cursor()
    outer.execute('SELECT id FROM qv_nested_outer ORDER BY id')
    seen = []
    row = outer.fetchone()
    while row is not None:
        seen.append(row.id)
        inner.execute('UPDATE qv_nested_inner SET n = n + ? WHERE id = ?', row.id * 10, row.id)
        check(f'cached: rows updated for {row.id}', inner.rowcount, 1)
        inner.execute('SELECT n FROM qv_nested_inner WHERE id = ?', row.id)
        check(f'cached: inner select for {row.id}', inner.fetchone()[0], row.id * 10)
        inner.execute(f'SELECT COUNT(*) FROM qv_nested_inner WHERE n > 0')
        check(f'cached: direct inner select for {row.id}', inner.fetchone()[0], row.id)
        row = outer.fetchone()
    check('cached: outer rows', seen, [1, 2, 3, 4])
    check('cached: sum after the loop',
          inner.execute('SELECT SUM(n) FROM qv_nested_inner').fetchone()[0], 100)
    cn.close()


def streaming(conn_str):
    cn = pyodbc.connect(conn_str + 'NoCache=1;', autocommit=True)
    check('NoCache: SQL_MAX_CONCURRENT_ACTIVITIES',
          cn.getinfo(pyodbc.SQL_MAX_CONCURRENT_ACTIVITIES), 1)
    outer, inner = cn.cursor(), cn.cursor()
    outer.execute('SELECT id FROM qv_nested_outer ORDER BY id')
    check('NoCache: first outer row', outer.fetchone().id, 1)
    for label, sql, params in (('direct', 'SELECT 1', ()),
                               ('prepared', 'SELECT n FROM qv_nested_inner WHERE id = ?', (1,))):
        try:
            inner.execute(sql, *params)
            failures.append(f'NoCache: {label} execution ran while the outer rows stream')
        except pyodbc.Error as e:
            check(f'NoCache: {label} SQLSTATE', e.args[0], 'HY000')
            if BUSY not in str(e):
                failures.append(f'NoCache: {label} message: {e}')
    check('NoCache: remaining outer rows', [r.id for r in outer.fetchall()], [2, 3, 4])
    check('NoCache: inner after the outer end',
          inner.execute('SELECT n FROM qv_nested_inner WHERE id = ?', 4).fetchone()[0], 40)
    inner.execute('DROP TABLE qv_nested_outer')
    inner.execute('DROP TABLE qv_nested_inner')
    cn.close()


def main():
    env = server_env()
    conn_str = f"DSN={env['QV_DSN']};"
    for name, step in (('cached', cached), ('streaming', streaming)):
        try:
            step(conn_str)
        except pyodbc.Error as e:
            failures.append(f'{name}: {e}')
    for f in failures:
        print('FAIL', f)
    print('pyodbc nested loop:', 'ok' if not failures else f'{len(failures)} failure(s)')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
