# SPDX-License-Identifier: GPL-3.0-or-later
# Talks to a running spreadsheet application through its UNO socket
# (started with --accept=socket,host=127.0.0.1,port=N;urp;) for the typing
# tests. Commands:
#   ready PORT TIMEOUT           waits until a spreadsheet document is open, goes to A1
#   select PORT CELL             puts the cell cursor on CELL ("B1")
#   read PORT COLUMN COUNT TIMEOUT
#                                waits (at most TIMEOUT s) until COUNT cells from
#                                row 1 down are filled and nothing changed for a
#                                second, then prints one line per cell:
#                                "VALUE <number>", "TEXT <text>" or "EMPTY"
#   quit PORT                    ends the application
# Exit status 0 on success; 2 with a reason on the error output otherwise.
import os
import sys
import time

import uno
from com.sun.star.connection import NoConnectException
from com.sun.star.table.CellContentType import EMPTY, TEXT, VALUE, FORMULA


def connect(port, timeout):
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
    url = "uno:socket,host=127.0.0.1,port=%s;urp;StarOffice.ComponentContext" % port
    deadline = time.monotonic() + timeout
    while True:
        try:
            context = resolver.resolve(url)
            return context, context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", context)
        except NoConnectException:
            if time.monotonic() > deadline:
                raise SystemExit("no connection to the spreadsheet application on port %s" % port)
            time.sleep(0.2)


def spreadsheet(office, timeout):
    desktop = office[1]
    deadline = time.monotonic() + timeout
    while True:
        components = desktop.Components.createEnumeration()
        while components.hasMoreElements():
            doc = components.nextElement()
            if doc.supportsService("com.sun.star.sheet.SpreadsheetDocument"):
                return doc
        if time.monotonic() > deadline:
            raise SystemExit("no spreadsheet document is open")
        time.sleep(0.2)


def go_to(office, doc, cell):
    # Moves the cell cursor without marking a range: Enter inside a marked
    # range would keep the cursor in it.
    from com.sun.star.beans import PropertyValue
    context, _ = office
    helper = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.DispatchHelper", context)
    target = PropertyValue()
    target.Name = "ToPoint"
    target.Value = cell
    helper.executeDispatch(doc.CurrentController.Frame, ".uno:GoToCell", "", 0, (target,))


def cells(doc, column, count):
    sheet = doc.Sheets.getByIndex(0)
    shown = []
    for row in range(1, count + 1):
        cell = sheet.getCellRangeByName("%s%d" % (column, row))
        kind = cell.Type
        if kind == EMPTY:
            shown.append("EMPTY")
        elif kind == VALUE:
            shown.append("VALUE %r" % cell.Value)
        elif kind == FORMULA:
            shown.append("FORMULA %s" % cell.Formula)
        else:
            shown.append("TEXT %s" % cell.String)
    return shown


def main(args):
    command, port = args[0], args[1]
    if command == "ready":
        timeout = float(args[2])
        office = connect(port, timeout)
        go_to(office, spreadsheet(office, timeout), "A1")
    elif command == "select":
        office = connect(port, 10)
        go_to(office, spreadsheet(office, 10), args[2])
    elif command == "read":
        column, count, timeout = args[2], int(args[3]), float(args[4])
        doc = spreadsheet(connect(port, 10), 10)
        deadline = time.monotonic() + timeout
        last, since = None, time.monotonic()
        while True:
            now = cells(doc, column, count)
            if now != last:
                last, since = now, time.monotonic()
            filled = all(c != "EMPTY" for c in now)
            if (filled and time.monotonic() - since >= 1.0) or time.monotonic() > deadline:
                break
            time.sleep(0.2)
        print("\n".join(last))
    elif command == "quit":
        _, desktop = connect(port, 5)
        try:
            desktop.terminate()
        except Exception:
            pass  # the connection goes away with the application
    else:
        raise SystemExit("unknown command %s" % command)


if __name__ == "__main__":
    status = 0
    try:
        main(sys.argv[1:])
    except SystemExit as e:
        if isinstance(e.code, str):
            print(e.code, file=sys.stderr)
            status = 2
        else:
            status = e.code or 0
    sys.stdout.flush()
    sys.stderr.flush()
    # The UNO bridge may crash while the interpreter tears it down.
    os._exit(status)
