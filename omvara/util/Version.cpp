// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/Version.h"

namespace omvara::util {

QString programVersion()
{
    return QStringLiteral(OMVARA_VERSION);
}

QString versionInformation()
{
    return QStringLiteral("omvara ") + programVersion()
        + QStringLiteral("\n"
                         "Copyright (C) Omvara developers.\n"
                         "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
                         "This is free software: you are free to change and redistribute it.\n"
                         "There is NO WARRANTY, to the extent permitted by law.\n");
}

QString helpEpilogue()
{
    return QStringLiteral("\n"
                          "Exit status:\n"
                          " 0  if OK,\n"
                          " 1  if an export, import, port search or run failed,\n"
                          " 2  if the command line is wrong or a needed facility is missing.\n"
                          "\n"
                          "Full documentation: man omvara\n"
                          "Omvara home page: <https://www.brindlecote.com/omvara>\n");
}

QString unknownOptionText(const QString &option)
{
    return QStringLiteral("unknown option \"%1\"").arg(option);
}

} // namespace omvara::util
