#pragma once

#include "core/clients.h"
#include "testenv.h"

#include <QCoreApplication>

// What the tests of several layers share about clients and the shipped addon.
namespace Fixtures {

// The client as detection finds it now.
inline ClientInfo detected(const QString &id)
{
    for (const ClientInfo &info : Clients().detect()) {
        if (info.id == id)
            return info;
    }
    return {};
}

// The addon this test program ships (beside it, where the app looks first): complete, as Godot's
// plugin list wants it, so that an install can enable it.
inline bool writeBundledAddon(const QString &version)
{
    const QString bundled = QCoreApplication::applicationDirPath() + "/bundled_addon/";
    return TestEnv::writeFile(bundled + "plugin.cfg", "[plugin]\nname=\"Tavrin MCP\"\ndescription=\"d\"\nauthor=\"a\"\n"
                                                      "version=\"" +
                                                          version.toUtf8() + "\"\nscript=\"plugin.gd\"\n") &&
           TestEnv::writeFile(bundled + "plugin.gd", "@tool\nextends EditorPlugin\n");
}

} // namespace Fixtures
