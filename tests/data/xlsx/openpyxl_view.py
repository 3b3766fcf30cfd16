#!/usr/bin/python3
"""Writes what openpyxl sees on the first worksheet of an .xlsx, in the form of
`quorvel-cli cells` (row, column, kind, value; 0-based), with formula and error cells left
out (they read as empty cells), booleans as Integer 1/0, numbers as Real, dates and times
as their serial numbers in the workbook's date system, texts as Text.
Usage: openpyxl_view.py FILE.xlsx > FILE.expected.txt   (exit 1: openpyxl cannot open it)"""
import datetime, sys, warnings
warnings.simplefilter('ignore')
import openpyxl
from openpyxl.utils.datetime import to_excel

def escape(text):
    return text.replace('\\', '\\\\').replace('\t', '\\t').replace('\r', '\\r').replace('\n', '\\n')

def main(path):
    try:
        book = openpyxl.load_workbook(path)
        sheet = book.worksheets[0] if book.worksheets else None
    except Exception as error:  # the file is refused
        print('openpyxl: %s: %s' % (type(error).__name__, error), file=sys.stderr)
        return 1
    out = []
    if sheet is not None:
        for (row, column), cell in sorted(sheet._cells.items()):
            value = cell.value
            if value is None or cell.data_type in ('f', 'e'):
                continue
            if isinstance(value, bool):
                out.append('%d\t%d\tInteger\t%d' % (row - 1, column - 1, int(value)))
            elif isinstance(value, (int, float)):
                out.append('%d\t%d\tReal\t%s' % (row - 1, column - 1, repr(float(value))))
            elif isinstance(value, (datetime.datetime, datetime.date, datetime.time)):
                out.append('%d\t%d\tReal\t%s' % (row - 1, column - 1, repr(float(to_excel(value, book.epoch)))))
            elif isinstance(value, datetime.timedelta):
                out.append('%d\t%d\tReal\t%s' % (row - 1, column - 1, repr(value.total_seconds() / 86400)))
            elif isinstance(value, str):
                if value != '':
                    out.append('%d\t%d\tText\t%s' % (row - 1, column - 1, escape(value)))
            # formula objects (array formulas, data tables) are formulas: empty
    sys.stdout.write(''.join(line + '\n' for line in out))
    return 0

sys.exit(main(sys.argv[1]))
