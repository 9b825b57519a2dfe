#!/bin/sh
# Runs a validator and fails when it fails or says anything at all: hints and warnings count.
out=$("$@" 2>&1)
status=$?
[ -n "$out" ] && printf '%s\n' "$out"
[ "$status" -eq 0 ] && [ -z "$out" ]
