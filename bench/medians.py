#!/usr/bin/python3
"""Medians of qvbench's workload lines over the rounds of bench/run.sh, as
markdown ready for bench/RESULTS.md: a table of the driver, the `mariadb`
client and the floor (qvraw) with the driver's ratios to both, the time per
call of the round-trip workloads, and the figures the performance goals name
("Must show"), each against its goal.

Usage: medians.py RESULTS-FILE [--baseline EARLIER-RESULTS-FILE]
  --baseline: an earlier run's lines (bench/run.sh keeps them in
  build/bench-results.txt); the per-call figures are compared with its."""
import re
import statistics
import sys

FIGS = r'wall +([\d.]+) s +cpu +([\d.]+) s +rss +(\d+) KiB'
LINE = re.compile(r'^(\S+) +(\d+) rows .*?' + FIGS + r'(.*)$')
OTHER = re.compile(r'\| (mariadb|floor) ' + FIGS)
RECEIVED = re.compile(r'^(\S+) +received (\d+) bytes for the result')


def read(path):
    """Workload name -> list of rounds ({'rows', 'driver', 'mariadb', 'floor',
    'received'}), and the names in the order first seen."""
    runs, order = {}, []
    with open(path, encoding='utf-8') as f:
        for line in f:
            m = LINE.match(line)
            if m:
                name = m.group(1)
                if name not in runs:
                    runs[name] = []
                    order.append(name)
                fig = {'rows': int(m.group(2)),
                       'driver': tuple(float(x) for x in m.group(3, 4, 5))}
                for o in OTHER.finditer(m.group(6)):
                    fig[o.group(1)] = tuple(float(x) for x in o.group(2, 3, 4))
                runs[name].append(fig)
                continue
            m = RECEIVED.match(line)
            if m and runs.get(m.group(1)):
                runs[m.group(1)][-1]['received'] = int(m.group(2))
    return runs, order


def med(runs, name, who, k=None):
    """Median of one figure (k: 0 wall, 1 CPU, 2 peak KiB; None: the value
    itself) over the rounds that have it, or None."""
    vals = [r[who] if k is None else r[who][k] for r in runs.get(name, []) if who in r]
    return statistics.median(vals) if vals else None


def ratio(a, b):
    return None if a is None or not b else a / b


def cell(v, fmt):
    return '-' if v is None else fmt % v


def per_call(runs, name, who):
    """Median wall per call in microseconds."""
    wall = med(runs, name, who, 0)
    return None if wall is None else wall / runs[name][0]['rows'] * 1e6


def table(runs, order):
    print('| workload | rows | rounds | driver wall s | driver CPU s | driver peak MiB '
          '| mariadb wall s | mariadb CPU s | mariadb peak MiB '
          '| floor wall s | floor CPU s | floor peak MiB '
          '| wall vs mariadb | CPU vs mariadb | wall vs floor | CPU vs floor |')
    print('|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|')
    for name in order:
        d = [med(runs, name, 'driver', k) for k in range(3)]
        y = [med(runs, name, 'mariadb', k) for k in range(3)]
        fl = [med(runs, name, 'floor', k) for k in range(3)]
        row = [name, f"{runs[name][0]['rows']:,}", str(len(runs[name]))]
        for fig in (d, y, fl):
            row += [cell(fig[0], '%.3f'), cell(fig[1], '%.3f'),
                    cell(None if fig[2] is None else fig[2] / 1024, '%.1f')]
        row += [cell(ratio(d[0], y[0]), '%.2fx'), cell(ratio(d[1], y[1]), '%.2fx'),
                cell(ratio(d[0], fl[0]), '%.2fx'), cell(ratio(d[1], fl[1]), '%.2fx')]
        print('| ' + ' | '.join(row) + ' |')


def calls(runs, base):
    names = [n for n in ('roundtrip', 'prepared_select', 'connect') if n in runs]
    if not names:
        return
    print()
    print('Per call (medians, µs): '
          + '; '.join('%s %s for the driver, %s for `mariadb`, %s for the floor%s' % (
              n, cell(per_call(runs, n, 'driver'), '%.1f'),
              cell(per_call(runs, n, 'mariadb'), '%.1f'),
              cell(per_call(runs, n, 'floor'), '%.1f'),
              '' if base is None or n not in base else
              ' (earlier run: %s)' % cell(per_call(base, n, 'driver'), '%.1f'))
              for n in names) + '.')


def must_show(runs, base):
    rows = []

    def goal(what, value, most, fmt='%.2fx'):
        met = None if value is None else value <= most
        rows.append((what, cell(value, fmt), 'at most ' + fmt % most,
                     '-' if met is None else ('yes' if met else '**no**')))

    goal('fetch_bound wall vs the floor',
         ratio(med(runs, 'fetch_bound', 'driver', 0), med(runs, 'fetch_bound', 'floor', 0)), 1.3)
    goal('fetch_bound client CPU vs `mariadb`',
         ratio(med(runs, 'fetch_bound', 'driver', 1), med(runs, 'fetch_bound', 'mariadb', 1)), 0.5)
    goal('fetch_bound_nocache wall vs the floor',
         ratio(med(runs, 'fetch_bound_nocache', 'driver', 0),
               med(runs, 'fetch_bound_nocache', 'floor', 0)), 1.1)
    goal('insert_array wall vs the floor',
         ratio(med(runs, 'insert_array', 'driver', 0), med(runs, 'insert_array', 'floor', 0)), 1.2)
    goal('connect wall vs the raw logon',
         ratio(med(runs, 'connect', 'driver', 0), med(runs, 'connect', 'floor', 0)), 1.5)
    peak = med(runs, 'fetch_bound', 'driver', 2)
    base_peak = med(runs, 'idle', 'driver', 2)
    received = med(runs, 'fetch_bound', 'received')
    growth = None if peak is None or base_peak is None else (peak - base_peak) * 1024
    goal('fetch_bound peak memory growth over an idle connection vs bytes received',
         ratio(growth, received), 1.3)
    for n in ('roundtrip', 'prepared_select'):
        if base is not None and n in base:
            goal(n + ' per call vs the earlier run',
                 ratio(per_call(runs, n, 'driver'), per_call(base, n, 'driver')), 1.05)
    print()
    print('Must show:')
    print()
    print('| figure | measured | goal | met |')
    print('|---|---:|---:|:---:|')
    for r in rows:
        print('| ' + ' | '.join(r) + ' |')
    print()
    print('Memory: fetch_bound peaks at %s MiB, an idle connected process at %s MiB; '
          'the growth, %s MiB, holds a result of %s MiB received.' % (
              cell(None if peak is None else peak / 1024, '%.1f'),
              cell(None if base_peak is None else base_peak / 1024, '%.1f'),
              cell(None if growth is None else growth / 1048576, '%.1f'),
              cell(None if received is None else received / 1048576, '%.1f')))
    if base is None:
        print('Per call: give the previous run with --baseline to compare roundtrip and '
              'prepared_select with it (goal: within 5 %).')


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != '--baseline'):
        sys.exit(__doc__)
    runs, order = read(argv[1])
    base = read(argv[3])[0] if len(argv) == 4 else None
    table(runs, order)
    calls(runs, base)
    must_show(runs, base)


if __name__ == '__main__':
    main(sys.argv)
