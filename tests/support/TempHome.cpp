#include "TempHome.h"

#include <QDir>
#include <QFile>

namespace {
const char* const kVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME",
                                  "XDG_CACHE_HOME"};
}

TempHome::TempHome()
{
    for (const char* name : kVariables) {
        saved_.insert(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        qunsetenv(name);
    }
    qputenv("HOME", QFile::encodeName(dir_.path()));
}

TempHome::~TempHome()
{
    for (auto it = saved_.cbegin(); it != saved_.cend(); ++it) {
        if (it.value())
            qputenv(it.key().constData(), *it.value());
        else
            qunsetenv(it.key().constData());
    }
}
