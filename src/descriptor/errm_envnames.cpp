// errm_envnames.cpp - the environment name table: each variable a message
// names, with its value when first seen, for the life of the process.
#include "base/errm_interr.h"
#include "base/errm_text.h"
#include "descriptor/errm_desc.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace {

struct EnvName {
    char name[129];   // variable name
    char value[1024]; // its value when first seen
};

struct EnvTable {
    std::array<EnvName, 32> rows;
    int count; // used rows, never reset
};

EnvTable g_env = {};

} // namespace

int errm_RegisterEnvName(const char *name) {
    for (int i = 0; i < g_env.count; ++i)
        if (std::strcmp(g_env.rows[static_cast<std::size_t>(i)].name, name) == 0) return 1;
    if (g_env.count >= 32) {
        errm_ReportInternalError(ERRM_E_TOO_MANY_ENV, g_env.count, ERRM_SRC_PATH, __LINE__);
        return 0;
    }
    EnvName &row = g_env.rows[static_cast<std::size_t>(g_env.count)];
    errm_StrCopy(row.name, sizeof row.name, name);
    row.value[0] = '\0';
    if (const char *value = std::getenv(name)) {
        if (!errm_StrCopy(row.value, sizeof row.value, value))
            errm_StrCopy(row.value, sizeof row.value, "?");
    }
    ++g_env.count;
    return 1;
}

#ifdef ERRM_TESTING
void errm_TestResetEnvNames() {
    g_env = {};
}

const char *errm_EnvNameValue(const char *name) {
    for (int i = 0; i < g_env.count; ++i)
        if (std::strcmp(g_env.rows[static_cast<std::size_t>(i)].name, name) == 0)
            return g_env.rows[static_cast<std::size_t>(i)].value;
    return nullptr;
}
#endif
