#!/usr/bin/python3
"""Medians of qvbench's workload lines over the rounds of bench/run.sh, as a
markdown table: the driver, the `mariadb` client and the floor (qvraw), with
the driver's ratios to both. Usage: medians.py RESULTS-FILE"""
import re
import statistics
import sys

FIGS = r'wall +([\d.]+) s +cpu +([\d.]+) s +rss +(\d+) KiB'
LINE = re.compile(r'^(\S+) +(\d+) rows .*?' + FIGS + r'(.*)$')
OTHER = re.compile(r'\| (mariadb|floor) ' + FIGS)

runs = {}
order = []
with open(sys.argv[1], encoding='utf-8') as f:
    for line in f:
        m = LINE.match(line)
        if not m:
            continue
        name = m.group(1)
        if name not in runs:
            runs[name] = []
            order.append(name)
        fig = {'rows': int(m.group(2)), 'driver': tuple(float(x) for x in m.group(3, 4, 5))}
        for o in OTHER.finditer(m.group(6)):
            fig[o.group(1)] = tuple(float(x) for x in o.group(2, 3, 4))
        runs[name].append(fig)


def med(name, who, k):
    vals = [r[who][k] for r in runs[name] if who in r]
    return statistics.median(vals) if vals else None


def cell(v, fmt):
    return '-' if v is None else fmt % v


print('| workload | rows | rounds | driver wall s | driver CPU s | driver peak MiB '
      '| mariadb wall s | mariadb CPU s | mariadb peak MiB '
      '| floor wall s | floor CPU s | floor peak MiB '
      '| wall vs mariadb | CPU vs mariadb | wall vs floor | CPU vs floor |')
print('|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|')
for name in order:
    d = [med(name, 'driver', k) for k in range(3)]
    y = [med(name, 'mariadb', k) for k in range(3)]
    fl = [med(name, 'floor', k) for k in range(3)]

    def ratio(a, b):
        return None if a is None or not b else a / b
    row = [name, f"{runs[name][0]['rows']:,}", str(len(runs[name]))]
    for fig in (d, y, fl):
        row += [cell(fig[0], '%.3f'), cell(fig[1], '%.3f'),
                cell(None if fig[2] is None else fig[2] / 1024, '%.1f')]
    row += [cell(ratio(d[0], y[0]), '%.2fx'), cell(ratio(d[1], y[1]), '%.2fx'),
            cell(ratio(d[0], fl[0]), '%.2fx'), cell(ratio(d[1], fl[1]), '%.2fx')]
    print('| ' + ' | '.join(row) + ' |')
