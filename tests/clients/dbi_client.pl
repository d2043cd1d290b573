#!/usr/bin/perl
# A generic ODBC client against the driver: Perl DBI with DBD::ODBC through
# unixODBC, asking for the catalog as Perl programs do.
#
# Connects through the private DSN and checks the ODBC enumerations that
# table_info makes of its arguments (table_info('%', '', '') the databases,
# table_info('', '%', '') no schemas, table_info('', '', '', '%') the table
# types only), table and column names as patterns, and foreign_key_info in
# both directions, on the schema the test fixture seeds
# (tests/fixtures/seed/catalog*.sql).
#
# Reads the server's coordinates from the file named by QV_SERVER_ENV; the
# driver manager finds the private ini files through ODBCSYSINI/ODBCINI.
# Exits 0 when every check passes, 1 otherwise (each failure is printed).
use strict;
use warnings;

use DBI;

my @failures;

sub check {
    my ($what, $got, $want) = @_;
    my $g = defined $got ? $got : 'undef';
    my $w = defined $want ? $want : 'undef';
    push @failures, "$what: got '$g', want '$w'" if $g ne $w;
}

sub server_env {
    my %env;
    open my $f, '<', $ENV{QV_SERVER_ENV} or die "cannot read QV_SERVER_ENV: $!";
    while (my $line = <$f>) {
        chomp $line;
        my ($key, $value) = split /=/, $line, 2;
        $env{$key} = $value if defined $value;
    }
    close $f;
    return %env;
}

# Every row of a catalog statement as hashes keyed by upper-case column name.
sub all_rows {
    my ($sth) = @_;
    return [] unless $sth;
    my @rows;
    while (my $r = $sth->fetchrow_hashref('NAME_uc')) {
        push @rows, {%$r};
    }
    return \@rows;
}

# A column by the ODBC name, or the name DBI's specification gives it.
sub col {
    my ($row, @names) = @_;
    for my $n (@names) {
        return $row->{$n} if exists $row->{$n};
    }
    return "(no column @names)";
}

sub show { return join ',', map { defined $_ ? $_ : 'undef' } @_ }

my %env = server_env();
my $dbh = DBI->connect("dbi:ODBC:DSN=$env{QV_DSN}", undef, undef,
                       { RaiseError => 1, PrintError => 0, AutoCommit => 1 });

eval {
    # table_info('%', '', ''): the databases, nothing else
    my $rows = all_rows($dbh->table_info('%', '', ''));
    my %catalogs = map { ($_->{TABLE_CAT} // 'undef') => 1 } @$rows;
    for my $db (qw(qvtest qvtest_cat qvtest_fk information_schema)) {
        check("catalogs list $db", exists $catalogs{$db} ? 1 : 0, 1);
    }
    check('catalogs have no tables', scalar(grep { defined $_->{TABLE_NAME} } @$rows), 0);
    check('catalogs have no types', scalar(grep { defined $_->{TABLE_TYPE} } @$rows), 0);
    check('one row per catalog', scalar(@$rows), scalar(keys %catalogs));

    # table_info('', '%', ''): the server has no schemas
    $rows = all_rows($dbh->table_info('', '%', ''));
    check('schemas', scalar(@$rows), 0);

    # table_info('', '', '', '%'): the table types only
    $rows = all_rows($dbh->table_info('', '', '', '%'));
    check('table types', show(map { $_->{TABLE_TYPE} } @$rows), 'SYSTEM VIEW,TABLE,VIEW');
    check('table types have no tables', scalar(grep { defined $_->{TABLE_NAME} } @$rows), 0);

    # the general form: patterns and a type list
    $rows = all_rows($dbh->table_info(undef, undef, 'qv\_cat\_%', 'VIEW'));
    check('views by pattern', show(map { "$_->{TABLE_CAT}.$_->{TABLE_NAME}" } @$rows), 'qvtest.qv_cat_view');
    $rows = all_rows($dbh->table_info('qvtest_fk', undef, 'k%', 'TABLE'));
    check('tables of another database', show(map { $_->{TABLE_NAME} } @$rows), 'kind');

    # column names are patterns
    $rows = all_rows($dbh->column_info(undef, undef, 'qv_cat_parent', 'c%'));
    check('column_info c%', show(map { $_->{COLUMN_NAME} } @$rows), 'code');
    $rows = all_rows($dbh->column_info(undef, undef, 'qv_cat_uniq', '_'));
    check('column_info _', show(map { $_->{COLUMN_NAME} } @$rows), 'u,v');
    $rows = all_rows($dbh->column_info('qvtest_fk', undef, 'pattern_cols', 'a\_b'));
    check('column_info escaped _', show(map { $_->{COLUMN_NAME} } @$rows), 'a_b');

    # foreign keys referring to a table
    $rows = all_rows($dbh->foreign_key_info(undef, undef, 'qv_fk_store', undef, undef, undef));
    check('keys referring to qv_fk_store',
          show(map { join ':', col($_, 'FKTABLE_NAME', 'FK_TABLE_NAME'), col($_, 'FKCOLUMN_NAME', 'FK_COLUMN_NAME'),
                     col($_, 'PKCOLUMN_NAME', 'UK_COLUMN_NAME'), col($_, 'KEY_SEQ', 'ORDINAL_POSITION'),
                     col($_, 'UPDATE_RULE'), col($_, 'DELETE_RULE'), col($_, 'FK_NAME'),
                     col($_, 'PK_NAME', 'UK_NAME') } @$rows),
          'qv_fk_sale:store:id:1:1:0:fk_sale_store:PRIMARY');

    # the foreign keys a table holds, by the table they refer to
    $rows = all_rows($dbh->foreign_key_info(undef, undef, undef, undef, undef, 'qv_fk_sale'));
    check('keys held by qv_fk_sale',
          show(map { join ':', col($_, 'PKTABLE_CAT', 'UK_TABLE_CAT'), col($_, 'PKTABLE_NAME', 'UK_TABLE_NAME'),
                     col($_, 'PKCOLUMN_NAME', 'UK_COLUMN_NAME'), col($_, 'FKCOLUMN_NAME', 'FK_COLUMN_NAME'),
                     col($_, 'DELETE_RULE') } @$rows),
          'qvtest:qv_fk_store:id:store:0,qvtest_fk:kind:label:kind:3,'
          . 'qvtest_fk:region:country:country:1,qvtest_fk:region:code:region:1');

    # between two tables, the primary one in another database
    $rows = all_rows($dbh->foreign_key_info('qvtest_fk', undef, 'region', undef, undef, 'qv_fk_store'));
    check('keys from qv_fk_store to region',
          show(map { join ':', col($_, 'PKCOLUMN_NAME', 'UK_COLUMN_NAME'), col($_, 'FKCOLUMN_NAME', 'FK_COLUMN_NAME'),
                     col($_, 'UPDATE_RULE'), col($_, 'DELETE_RULE'), col($_, 'DEFERRABILITY') } @$rows),
          'country:country:0:2:7,code:region:0:2:7');
};
push @failures, "DBI: $@" if $@;
$dbh->disconnect;

print "FAIL $_\n" for @failures;
print 'Perl DBI client: ', (@failures ? scalar(@failures) . ' failure(s)' : 'ok'), "\n";
exit(@failures ? 1 : 0);
