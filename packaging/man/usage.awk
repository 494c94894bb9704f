# Our --help starts "usage: PROG [OPTIONS...]", wrapped over indented lines,
# then one indented line per other form ("       PROG --help | --version").
# help2man takes a SYNOPSIS only from "Usage:" with "or:" lines, so the
# usage is joined and relabelled; every other line passes as it is.
NR == 1 && sub(/^usage:/, "Usage:") { usage = $0; inUsage = 1; next }
inUsage && /^ +\[/ { sub(/^ +/, " "); usage = usage $0; next }
inUsage && /^ +[^ ]/ { print usage; sub(/^ +/, ""); usage = "  or: " $0; next }
inUsage { print usage; inUsage = 0 }
{ print }
END { if (inUsage) print usage }
