#pragma once

#include "core/clients.h"

// What the tests of several layers share about clients.
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

} // namespace Fixtures
