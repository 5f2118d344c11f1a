#include "VelloxLog.h"

namespace VelloxLog {

namespace {

platform::Logger makeLogger(const char* category)
{
    return platform::Logger(QString::fromLatin1(kSubsystem), QString::fromLatin1(category));
}

} // namespace

const platform::Logger& rewrite()
{
    static const platform::Logger logger = makeLogger("rewrite");
    return logger;
}

const platform::Logger& ui()
{
    static const platform::Logger logger = makeLogger("ui");
    return logger;
}

const platform::Logger& startup()
{
    static const platform::Logger logger = makeLogger("startup");
    return logger;
}

const platform::Logger& permissions()
{
    static const platform::Logger logger = makeLogger("permissions");
    return logger;
}

} // namespace VelloxLog
