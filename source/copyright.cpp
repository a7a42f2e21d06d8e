/*
 * copyright.cpp - show_copyright: the banner written to standard error at the
 * start of every run, before anything else, in one write.
 */
#include "quorvil.h"

void show_copyright(void)
{
    fputs("\n"
          "quorvil: offline reader of redo log files\n"
          "\n"
          "Copyright (c) 2026 The quorvil developers. All rights reserved.\n"
          "\n",
          stderr);
}
