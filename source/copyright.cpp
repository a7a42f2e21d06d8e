/*
 * copyright.cpp - show_copyright: the banner written to standard error at the
 * start of every run, before anything else, in one write.  The title line
 * names the version (QUORVIL_VERSION, the project's, set by the build).
 */
#include "quorvil.h"

void show_copyright(void)
{
    fputs("\n"
          "quorvil " QUORVIL_VERSION ": offline reader of redo log files\n"
          "\n"
          "Copyright (c) 2026 The quorvil developers. All rights reserved.\n"
          "\n",
          stderr);
}
