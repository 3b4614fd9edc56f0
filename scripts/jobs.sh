#!/bin/sh
# How many build and test jobs run at a time, for the Makefile and every script: $JOBS when it
# is set, else one per processor (two where nproc is missing).
echo "${JOBS:-$(nproc 2>/dev/null || echo 2)}"
