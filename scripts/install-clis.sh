#!/bin/sh
# Installs the real Claude Code and Codex CLIs into <folder>/node_modules/.bin for the round-trip
# tests. The versions are the ones whose behaviour the tests were written against: Claude Code 2
# (from 2.1.197), and Codex 0.171 (pre-1.0, so a minor release may change its command line).
set -eu
if [ $# -ne 1 ]; then
    echo "usage: $0 <folder>" >&2
    exit 2
fi
if ! command -v npm >/dev/null 2>&1; then
    echo "install-clis: npm not found, the real-CLI tests will be skipped" >&2
    exit 0
fi
mkdir -p "$1"
if ! npm install --prefix "$1" --no-audit --no-fund --prefer-offline --loglevel=error \
    "@anthropic-ai/claude-code@^2.1.197" "@openai/codex@~0.171.0" >&2; then
    # Not fatal here: the real-CLI test then fails and says what is missing.
    echo "install-clis: npm install failed" >&2
fi
