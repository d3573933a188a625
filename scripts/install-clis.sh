#!/bin/sh
# Installs the real AI-client CLIs into <folder>/node_modules/.bin for the round-trip tests. The
# versions are the ones whose behaviour the tests were written against: Claude Code 2 (from
# 2.1.197) and Codex 0.171 (pre-1.0, so a minor release may change its command line); the GitHub
# Copilot CLI, Gemini CLI, Qwen Code and opencode change their files between releases, so they are
# pinned exactly. Together about 1 GB on disk (opencode and Copilot ship native binaries through
# optional dependencies); a first install takes a minute or two, later ones come from npm's cache.
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
    "@anthropic-ai/claude-code@^2.1.197" "@openai/codex@~0.171.0" \
    "@github/copilot@1.0.102" "@google/gemini-cli@0.61.0" "@qwen-code/qwen-code@0.24.4" \
    "opencode-ai@1.18.33" >&2; then
    # Not fatal here: the real-CLI test then fails and says what is missing.
    echo "install-clis: npm install failed" >&2
fi
