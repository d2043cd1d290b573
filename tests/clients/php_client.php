<?php
/*
 * A generic ODBC client against the driver: PHP through unixODBC, with
 * PDO_ODBC at its default attributes and with the odbc_* functions.
 *
 * Connects by DSN, writes every common type and reads it back exactly
 * (one-column SELECTs and fetchAll), lists tables and columns, and commits
 * and rolls back (checked from a second connection). PDO runs twice: with
 * its defaults, which leave the cursor choice to the driver manager, and
 * with unixODBC's cursor library forced on.
 *
 * Reads the server's coordinates from the file named by QV_SERVER_ENV; the
 * driver manager finds the private ini files through ODBCSYSINI/ODBCINI.
 * Exits 0 when every check passes, 1 otherwise (each failure is printed).
 */

$failures = [];
// a warning (a failed odbc_* call reports nothing else) is a failure too
set_error_handler(function ($no, $text, $file, $line) {
    global $failures;
    $failures[] = "line $line: $text";
    return true;
});

function check($what, $got, $want)
{
    global $failures;
    if ($got !== $want) {
        $show = function ($v) {
            $s = var_export($v, true);
            return strlen($s) > 200 ? substr($s, 0, 200) . '... (' . strlen($s) . ' bytes)' : $s;
        };
        $failures[] = "$what: got " . $show($got) . ', want ' . $show($want);
    }
}

function server_env()
{
    $env = [];
    foreach (file(getenv('QV_SERVER_ENV'), FILE_IGNORE_NEW_LINES) as $line) {
        $parts = explode('=', $line, 2);
        if (count($parts) == 2)
            $env[$parts[0]] = $parts[1];
    }
    return $env;
}

const TEXT = 'Grüße, мир, 漢字, 😀';

/* The typed table's rows as PDO and odbc_* return them: every value as
 * text (binary values as their bytes), NULL as null. */
function typed_rows()
{
    $long_text = str_repeat('Ж' . str_repeat('x', 68), 1000);   // 70,000 bytes
    $blob = '';
    for ($i = 0; $i < 1048576; $i++)
        $blob .= chr(($i * 7 + ($i >> 11)) & 0xFF);
    return [
        ['1', '2147483647', '9007199254740993', '12345678901234.123456', '2.5', TEXT, $long_text, $blob,
         '2024-02-29', '12:34:56', '2024-02-29 01:02:03.456789', "\xA5", 'bb'],
        ['2', '-2147483648', '-9223372036854775808', '-0.000001', '-1234.25', '', '', '',
         '1000-01-01', '-838:59:59', '9999-12-31 23:59:59.999999', "\x00", 'a'],
        ['3', null, null, null, null, null, null, null, null, null, null, null, null],
    ];
}

const COLUMNS = ['id', 'i', 'b', 'd', 'f', 'v', 'mt', 'mb', 'dt', 'tm', 'ts', 'bt', 'e'];
const BINARY = ['mb', 'bt'];
const LONG = ['mt', 'mb'];

/* PDO_ODBC reads every column as SQL_C_CHAR: binary values arrive as
 * hexadecimal text, as ODBC converts them. */
function as_pdo_reads($rows)
{
    foreach ($rows as &$row)
        foreach (COLUMNS as $k => $col)
            if (in_array($col, BINARY) && $row[$k] !== null)
                $row[$k] = bin2hex($row[$k]);
    return $rows;
}

function cursor_library_loaded()
{
    return strpos(file_get_contents('/proc/self/maps'), 'libodbccr') !== false;
}

function create_typed($pdo, $table)
{
    $pdo->exec("DROP TABLE IF EXISTS $table");
    $pdo->exec("CREATE TABLE $table (id INT NOT NULL PRIMARY KEY, i INT, b BIGINT, d DECIMAL(20,6), "
               . "f DOUBLE, v VARCHAR(100), mt MEDIUMTEXT, mb MEDIUMBLOB, dt DATE, tm TIME, "
               . "ts DATETIME(6), bt BIT(8), e ENUM('a','bb')) CHARACTER SET utf8mb4");
    $ins = $pdo->prepare("INSERT INTO $table VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    foreach (typed_rows() as $row) {
        foreach ($row as $k => $value) {
            if ($value === null)
                $ins->bindValue($k + 1, null, PDO::PARAM_NULL);
            elseif (COLUMNS[$k] == 'mb' || COLUMNS[$k] == 'bt')
                $ins->bindValue($k + 1, $value, PDO::PARAM_LOB);
            else
                $ins->bindValue($k + 1, $value, PDO::PARAM_STR);
        }
        $ins->execute();
    }
}

/* PDO through the driver manager. $columns are the columns read back:
 * unixODBC's cursor library, when it is forced on, serves only bound
 * columns of a forward-only cursor (SQLGetData there is SL008, which PDO
 * reads as NULL, and a rowset without bound columns is SL009), and PDO binds
 * no column of 256 characters or more, nor any after one. */
function run_pdo($mode, $dsn, $options, $columns, $cursor_library)
{
    $table = "qv_php_$mode";
    $pdo = new PDO("odbc:$dsn", null, null, $options + [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
    check("$mode cursor library loaded", cursor_library_loaded(), $cursor_library);
    create_typed($pdo, $table);
    $want = as_pdo_reads(typed_rows());
    $keys = array_map(fn($c) => array_search($c, COLUMNS), $columns);

    // fetchAll of the table
    $got = $pdo->query("SELECT " . implode(', ', $columns) . " FROM $table ORDER BY id")
               ->fetchAll(PDO::FETCH_NUM);
    check("$mode row count", count($got), 3);
    foreach ($want as $r => $row)
        foreach ($keys as $i => $k)
            check("$mode fetchAll row $r " . COLUMNS[$k], $got[$r][$i] ?? null, $row[$k]);

    // one column at a time
    foreach ($keys as $k) {
        $col = COLUMNS[$k];
        $values = $pdo->query("SELECT $col FROM $table ORDER BY id")->fetchAll(PDO::FETCH_COLUMN, 0);
        check("$mode one-column $col", $values, array_column($want, $k));
    }

    // a parameterised query with non-Latin text (PDO sends the value as
    // data at execution; the cursor library never describes a result opened
    // by SQLParamData and crashes fetching it, so not through the library)
    if (!$cursor_library) {
        $st = $pdo->prepare("SELECT id, CHAR_LENGTH(v) FROM $table WHERE v = ?");
        $st->execute([TEXT]);
        $chars = count(preg_split('//u', TEXT, -1, PREG_SPLIT_NO_EMPTY));
        check("$mode text parameter", $st->fetchAll(PDO::FETCH_NUM), [['1', (string)$chars]]);
    }

    // commit and roll back, seen from a second connection
    $other = new PDO("odbc:$dsn", null, null, [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
    $count = function ($where) use ($other, $table) {
        return $other->query("SELECT COUNT(*) FROM $table WHERE $where")->fetchColumn();
    };
    $pdo->beginTransaction();
    $pdo->exec("INSERT INTO $table (id, v) VALUES (10, 'commit')");
    check("$mode uncommitted is invisible", $count('id = 10'), '0');
    $pdo->commit();
    check("$mode committed", $count('id = 10'), '1');
    $pdo->beginTransaction();
    $pdo->exec("INSERT INTO $table (id, v) VALUES (11, 'rollback')");
    $pdo->exec("DELETE FROM $table WHERE id = 1");
    $pdo->rollBack();
    check("$mode rolled back", $count('id IN (1, 11)') . '/' . $count('id = 1'), '1/1');
    $pdo->exec("DROP TABLE $table");
}

function run_odbc($dsn)
{
    $table = 'qv_php_odbc';
    $cn = odbc_connect($dsn, '', '');
    if (!$cn)
        throw new Exception('odbc_connect: ' . odbc_errormsg());
    $pdo = new PDO("odbc:$dsn", null, null, [PDO::ATTR_ERRMODE => PDO::ERRMODE_EXCEPTION]);
    create_typed($pdo, $table);
    $pdo = null;
    $want = typed_rows();

    // binary values as they are, long ones whole
    $res = odbc_exec($cn, "SELECT " . implode(', ', COLUMNS) . " FROM $table ORDER BY id");
    odbc_binmode($res, ODBC_BINMODE_RETURN);
    odbc_longreadlen($res, 4 * 1048576);
    $r = 0;
    while ($row = odbc_fetch_array($res)) {
        foreach (COLUMNS as $k => $col)
            check("odbc row $r $col", $row[$col], $want[$r][$k]);
        $r++;
    }
    check('odbc rows', $r, 3);
    check('odbc field name', odbc_field_name($res, 6), 'v');
    odbc_free_result($res);

    // a prepared statement with a parameter
    $st = odbc_prepare($cn, "SELECT v FROM $table WHERE id = ?");
    odbc_execute($st, [1]);
    odbc_fetch_row($st);
    check('odbc parameter', odbc_result($st, 1), TEXT);
    odbc_free_result($st);

    // the catalog: the table, and its columns in order
    $res = odbc_tables($cn, null, null, $table, 'TABLE');
    $names = [];
    while ($row = odbc_fetch_array($res))
        $names[] = $row['TABLE_NAME'];
    check('odbc_tables', $names, [$table]);
    odbc_free_result($res);
    $res = odbc_columns($cn, null, null, $table, '%');
    $cols = [];
    while ($row = odbc_fetch_array($res))
        $cols[] = $row['COLUMN_NAME'];
    odbc_free_result($res);
    check('odbc_columns', $cols, COLUMNS);

    // commit and roll back
    odbc_autocommit($cn, false);
    odbc_exec($cn, "INSERT INTO $table (id) VALUES (20)");
    odbc_commit($cn);
    odbc_exec($cn, "INSERT INTO $table (id) VALUES (21)");
    odbc_rollback($cn);
    odbc_autocommit($cn, true);
    $res = odbc_exec($cn, "SELECT GROUP_CONCAT(id ORDER BY id) FROM $table WHERE id >= 20");
    odbc_fetch_row($res);
    check('odbc commit and rollback', odbc_result($res, 1), '20');
    odbc_free_result($res);
    odbc_exec($cn, "DROP TABLE $table");
    odbc_close($cn);
}

$env = server_env();
$dsn = $env['QV_DSN'];
$short = array_values(array_diff(COLUMNS, LONG));
$runs = [
    // PDO's defaults leave the cursor library to the driver manager, which
    // needs it not: every column, long ones included
    'pdo' => fn() => run_pdo('pdo', $dsn, [], COLUMNS, false),
    'pdo_cursorlib' => fn() => run_pdo('pdo_cursorlib', $dsn,
                                       [PDO::ODBC_ATTR_USE_CURSOR_LIBRARY => PDO::ODBC_SQL_USE_ODBC],
                                       $short, true),
    'odbc' => fn() => run_odbc($dsn),
];
foreach ($runs as $mode => $run) {
    try {
        $run();
    } catch (Throwable $e) {
        $failures[] = "$mode: " . get_class($e) . ': ' . $e->getMessage();
    }
}
foreach ($failures as $f)
    echo "FAIL $f\n";
echo 'php client: ', $failures ? count($failures) . ' failure(s)' : 'ok', "\n";
exit($failures ? 1 : 0);
