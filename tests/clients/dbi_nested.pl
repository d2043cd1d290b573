#!/usr/bin/perl
# The nested loop through Perl DBI (DBD::ODBC): two statement handles on one
# database handle, the first reading a SELECT row by row while the second
# runs an UPDATE and a second SELECT for each row.
#
# With results held in memory (the default) the loop runs through. With
# NoCache=1 the first statement's rows stream from the wire and hold the
# connection: the second statement fails with HY000 "connection is busy with
# results of another hstmt" until the first one is read to its end.
#
# Reads the server's coordinates from the file named by QV_SERVER_ENV; the
# driver manager finds the private ini files through ODBCSYSINI/ODBCINI.
# Exits 0 when every check passes, 1 otherwise (each failure is printed).
use strict;
use warnings;

use DBI;

my $BUSY = 'connection is busy with results of another hstmt';
my @failures;

sub check {
    my ($what, $got, $want) = @_;
    $got = 'undef' unless defined $got;
    push @failures, "$what: got '$got', want '$want'" unless $got eq $want;
}

sub server_env {
    my %env;
    open(my $f, '<', $ENV{QV_SERVER_ENV}) or die "QV_SERVER_ENV: $!\n";
    while (my $line = <$f>) {
        chomp $line;
        my ($k, $v) = split /=/, $line, 2;
        $env{$k} = $v if defined $v;
    }
    close $f;
    return %env;
}

sub connect_to {
    my ($dsn, $extra) = @_;
    return DBI->connect("dbi:ODBC:DSN=$dsn;$extra", undef, undef,
                        {RaiseError => 0, PrintError => 0, AutoCommit => 1});
}

# DBD::ODBC's own look at the limit: SQLGetInfo(SQL_MAX_CONCURRENT_ACTIVITIES).
sub max_activities { my ($dbh) = @_; return $dbh->get_info(1); }

sub cached {
    my ($dsn) = @_;
    my $dbh = connect_to($dsn, '') or return push @failures, "cached: connect: $DBI::errstr";
    $dbh->do($_) or push @failures, "cached: $_: " . $dbh->errstr
        for ('DROP TABLE IF EXISTS qv_dbi_outer', 'DROP TABLE IF EXISTS qv_dbi_inner',
             'CREATE TABLE qv_dbi_outer (id INT PRIMARY KEY)',
             'INSERT INTO qv_dbi_outer VALUES (1), (2), (3)',
             'CREATE TABLE qv_dbi_inner (id INT PRIMARY KEY, n INT)',
             'INSERT INTO qv_dbi_inner VALUES (1, 0), (2, 0), (3, 0)');
    check('cached: SQL_MAX_CONCURRENT_ACTIVITIES', max_activities($dbh), 0);
    my $outer = $dbh->prepare('SELECT id FROM qv_dbi_outer ORDER BY id');
    my $update = $dbh->prepare('UPDATE qv_dbi_inner SET n = n + ? WHERE id = ?');
    my $select = $dbh->prepare('SELECT n FROM qv_dbi_inner WHERE id = ?');
    $outer->execute or push @failures, 'cached: outer: ' . $outer->errstr;
    my @seen;
    while (my ($id) = $outer->fetchrow_array) {
        push @seen, $id;
        check("cached: update $id", $update->execute($id * 10, $id) || $update->errstr, 1);
        $select->execute($id) or push @failures, "cached: select $id: " . $select->errstr;
        my ($n) = $select->fetchrow_array;
        $select->finish;
        check("cached: inner select $id", $n, $id * 10);
        # a direct execution on a third handle as well
        my ($count) = $dbh->selectrow_array('SELECT COUNT(*) FROM qv_dbi_inner WHERE n > 0');
        check("cached: direct select $id", $count, $id);
    }
    push @failures, 'cached: outer fetch: ' . $outer->errstr if $outer->err;
    check('cached: outer rows', join(',', @seen), '1,2,3');
    my ($sum) = $dbh->selectrow_array('SELECT SUM(n) FROM qv_dbi_inner');
    check('cached: sum after the loop', $sum, 60);
    $dbh->disconnect;
}

sub streaming {
    my ($dsn) = @_;
    my $dbh = connect_to($dsn, 'NoCache=1;')
        or return push @failures, "NoCache: connect: $DBI::errstr";
    check('NoCache: SQL_MAX_CONCURRENT_ACTIVITIES', max_activities($dbh), 1);
    my $outer = $dbh->prepare('SELECT id FROM qv_dbi_outer ORDER BY id');
    my $select = $dbh->prepare('SELECT n FROM qv_dbi_inner WHERE id = ?');
    $outer->execute or push @failures, 'NoCache: outer: ' . $outer->errstr;
    my ($first) = $outer->fetchrow_array;
    check('NoCache: first outer row', $first, 1);
    my $ok = $select->execute(1);
    check('NoCache: inner execution refused', $ok ? 'ran' : 'refused', 'refused');
    check('NoCache: SQLSTATE', $select->state, 'HY000');
    push @failures, 'NoCache: message: ' . ($select->errstr // 'none')
        unless ($select->errstr // '') =~ /\Q$BUSY\E/;
    my $direct = $dbh->do('UPDATE qv_dbi_inner SET n = 0 WHERE id = 1');
    check('NoCache: direct execution refused', $direct ? 'ran' : 'refused', 'refused');
    push @failures, 'NoCache: direct message: ' . ($dbh->errstr // 'none')
        unless ($dbh->errstr // '') =~ /\Q$BUSY\E/;
    my @rest;
    while (my ($id) = $outer->fetchrow_array) { push @rest, $id; }
    check('NoCache: remaining outer rows', join(',', @rest), '2,3');
    $select->execute(3) or push @failures, 'NoCache: select after the end: ' . $select->errstr;
    my ($n) = $select->fetchrow_array;
    $select->finish;
    check('NoCache: inner after the outer end', $n, 30);
    $dbh->do($_) for ('DROP TABLE qv_dbi_outer', 'DROP TABLE qv_dbi_inner');
    $dbh->disconnect;
}

my %env = server_env();
cached($env{QV_DSN});
streaming($env{QV_DSN});
print "FAIL $_\n" for @failures;
print 'DBI nested loop: ', (@failures ? scalar(@failures) . ' failure(s)' : 'ok'), "\n";
exit(@failures ? 1 : 0);
