#pragma once

#include "testenv.h"

// A fake MCP server in Python, written as `uvx` onto the test PATH: a prelude of helpers and a
// body that uses them. One JSON-RPC message per line; check() stops the server with exit code 3
// and a message when the client sends something unexpected. handshake() records in <root>/seen.json
// the arguments, the permission mode of its environment and the initialize parameters.
namespace FakeServer {

inline const char *prelude()
{
    return R"PY(
import json, os, signal, subprocess, sys, time
ROOT = sys.argv[0].rsplit("/", 2)[0]
INFO = {"name": "tavrin", "version": "1.2.0"}
def send(obj):
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()
def check(ok, what):
    if not ok:
        sys.stderr.write("fake server: %s\n" % what)
        sys.exit(3)
def recv():
    line = sys.stdin.readline()
    if not line:
        sys.exit(0)
    check("\n" not in line[:-1], "two messages on one line")
    return json.loads(line)
def expect(method):
    msg = recv()
    check(msg.get("jsonrpc") == "2.0" and msg.get("method") == method, "expected %s, got %r" % (method, msg))
    return msg
def result(msg, res):
    send({"jsonrpc": "2.0", "id": msg["id"], "result": res})
def error(msg, code, text, data=None):
    err = {"code": code, "message": text}
    if data is not None:
        err["data"] = data
    send({"jsonrpc": "2.0", "id": msg["id"], "error": err})
def tools(pages, per_page, meta=False, described=False):
    for page in range(pages):
        msg = expect("tools/list")
        params = msg.get("params", {})
        check(params.get("cursor") == (None if page == 0 else "page-%d" % page), "cursor %r" % params)
        check(("_meta" in params) == meta, "_meta %r" % params)
        res = {"tools": [{"name": "t%d_%d" % (page, i), "inputSchema": {"type": "object"}} for i in range(per_page)]}
        if described:
            for tool in res["tools"]:
                tool["description"] = "A tool of the benchmark."
                tool["inputSchema"]["properties"] = {"path": {"type": "string"}}
        if page + 1 < pages:
            res["nextCursor"] = "page-%d" % (page + 1)
        result(msg, res)
def handshake(msg, version="2025-11-25"):
    with open(ROOT + "/seen.json", "w") as seen:
        json.dump({"argv": sys.argv[1:], "mode": os.environ.get("GODOT_MCP_PERMISSION_MODE"),
                   "params": msg["params"]}, seen)
    result(msg, {"protocolVersion": version, "capabilities": {"tools": {}}, "serverInfo": INFO})
    expect("notifications/initialized")
def legacy(version="2025-11-25", pages=1, per_page=3, described=False):
    handshake(expect("initialize"), version)
    tools(pages, per_page, described=described)
def until_eof():
    while sys.stdin.readline():
        pass
)PY";
}

// Writes the server: the prelude and `body`, or `body` alone when it starts with "#!".
[[nodiscard]] inline bool write(const QByteArray &body)
{
    const QString path = TestEnv::binDir() + QStringLiteral("/uvx");
    const QByteArray script =
        body.startsWith("#!") ? body : QByteArray("#!/usr/bin/python3\n") + prelude() + body + '\n';
    return TestEnv::writeFile(path, script) &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The compiled fake of fakeserver.cpp as `uvx` (a shell wrapper, or a .cmd shim on Windows), for the
// tests that run on every platform: it follows `scenario`, its steps described there, and keeps
// seen.json in the test root as the Python one does.
[[nodiscard]] inline bool serve(const QByteArray &scenario = "serve")
{
    const QString root = TestEnv::root().path();
    const QByteArray call = '"' + QDir::toNativeSeparators(QStringLiteral(TAVRIN_FAKE_SERVER)).toUtf8() + "\" \"" +
                            QDir::toNativeSeparators(root).toUtf8() + '"';
    return TestEnv::writeFile(root + QStringLiteral("/uvx.scenario"), scenario) &&
           !TestEnv::writeScript(QStringLiteral("uvx"), "exec " + call + " \"$@\"", '@' + call + " %*").isEmpty();
}

} // namespace FakeServer
