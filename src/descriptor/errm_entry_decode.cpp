// errm_entry_decode.cpp - decoding an entry record of a loaded descriptor
// into a message entry, and the subsystem context of the last decoding.
// The record's fields and bounds are those of descriptor/errm_format.h.
//
// Sections: record cursor; decoding; subsystem context.
#include "base/errm_conv.h"
#include "base/errm_interr.h"
#include "base/errm_text.h"
#include "descriptor/errm_decode.h"
#include "descriptor/errm_desc.h"

#include <cstring>

errm_SubsystemContext errm_Ctx = {{}, {}, 0, -1, 0, 0};

namespace {

// A read cursor over one entry record, bounded by the end of the view.
struct Cursor {
    const unsigned char *pos;
    const unsigned char *end;

    bool has(std::size_t n) const { return static_cast<std::size_t>(end - pos) >= n; }
    bool u8(std::uint8_t *v) {
        if (!has(1)) return false;
        errm_ReadFileU8(pos, v);
        pos += 1;
        return true;
    }
    bool u16(std::uint16_t *v) {
        if (!has(2)) return false;
        errm_ReadFileU16(pos, v);
        pos += 2;
        return true;
    }
    bool u32(std::uint32_t *v) {
        if (!has(4)) return false;
        errm_ReadFileU32(pos, v);
        pos += 4;
        return true;
    }
    // Copies n bytes and a terminator into dst (capacity > n is the caller's).
    bool text(char *dst, std::size_t n) {
        if (!has(n)) return false;
        std::memcpy(dst, pos, n);
        dst[n] = '\0';
        pos += n;
        return true;
    }
    bool skip(std::size_t n) {
        if (!has(n)) return false;
        pos += n;
        return true;
    }
};

int badField(const char *what) {
    ERRM_REPORT(ERRM_E_INTERNAL, what);
    return ERRM_E_INTERNAL;
}

int outsideFile(const char *name) {
    ERRM_REPORT(ERRM_E_READ_MAPPED, name);
    return ERRM_E_READ_MAPPED;
}

// Reads an optional text (see, cat, command) whose length must be 0 or
// ERRM_DESC_LONG_TEXT_MIN..ERRM_DESC_LONG_TEXT_MAX.
enum class TextResult { Ok, Bad, Outside };
// Inlined: called three times a decoding, where the call would cost more
// than the usual empty text.
[[gnu::always_inline]] inline TextResult optionalText(Cursor &c, char *dst, int *flag) {
    std::uint16_t len;
    if (!c.u16(&len)) return TextResult::Outside;
    if (len == 0) {
        *flag = 0;
        std::memcpy(dst, "?", 2);
        return TextResult::Ok;
    }
    if (len < ERRM_DESC_LONG_TEXT_MIN || len > ERRM_DESC_LONG_TEXT_MAX) return TextResult::Bad;
    if (!c.text(dst, len)) return TextResult::Outside;
    *flag = 1;
    return TextResult::Ok;
}

// The record's parts, in order; each returns 0 or the code of the failure
// (reported). Inlined into errm_DecodeEntry, whose miss path they are.

// The spare word, the name (skipped), the number, the identifier, the
// severity and the environment name.
[[gnu::always_inline]] inline int decodeHead(Cursor &c, const errm_SubsystemRow &row, int number,
                                             errm_MessageEntry &e) {
    std::uint32_t spare, nameLen;
    if (!c.u32(&spare) || !c.u32(&nameLen)) return outsideFile(row.name);
    if (nameLen == 0 || nameLen > ERRM_DESC_ENTRY_NAME_MAX) return badField("size desc=0");
    if (!c.skip(nameLen)) return outsideFile(row.name);

    std::uint32_t recNumber;
    if (!c.u32(&recNumber)) return outsideFile(row.name);
    e.number = static_cast<std::int32_t>(recNumber);
    if (e.number != number) {
        ERRM_REPORT(ERRM_E_BAD_ENTRY_NUMBER, e.number);
        return ERRM_E_BAD_ENTRY_NUMBER;
    }

    std::uint16_t len;
    if (!c.u16(&len)) return outsideFile(row.name);
    if (len > ERRM_DESC_ID_MAX) return badField("size report code insufficient");
    if (!c.text(e.id, len)) return outsideFile(row.name);
    e.idLength = len;

    std::uint8_t severity;
    if (!c.u8(&severity)) return outsideFile(row.name);
    if (severity < 1 || severity > ERRM_DESC_SEVERITY_MAX) {
        ERRM_REPORT(ERRM_E_SEVERITY, static_cast<int>(severity));
        return ERRM_E_SEVERITY;
    }
    e.severity = severity;

    if (!c.u16(&len)) return outsideFile(row.name);
    if (len > ERRM_DESC_ENV_MAX) return badField("env name length");
    if (len > 0) {
        char envName[ERRM_DESC_ENV_MAX + 1];
        if (!c.text(envName, len)) return outsideFile(row.name);
        if (!errm_RegisterEnvName(envName)) return ERRM_E_TOO_MANY_ENV;
    }
    return 0;
}

// The format (checked for %n once a record), the second text (skipped), the
// spare byte, the force flag and the reports.
[[gnu::always_inline]] inline int decodeFormat(Cursor &c, const errm_SubsystemRow &row,
                                               int dirIndex, errm_MessageEntry &e) {
    std::uint16_t len;
    if (!c.u16(&len)) return outsideFile(row.name);
    if (len > ERRM_DESC_FORMAT_MAX) return badField("format length");
    if (!c.text(e.format, len)) return outsideFile(row.name);
    e.formatEstimate = 0; // estimated when the entry is first formatted
    e.planCount = 0;      // cut when the entry is first formatted
    e.prefixLen = 0;      // built when the entry is first decorated
    // A catalogue must never make the library write through an argument.
    // The copy does not change after load, so a format is parsed for %n at
    // its record's first decoding only.
    std::uint32_t &checked = row.formatsChecked[static_cast<unsigned>(dirIndex) / 32];
    const std::uint32_t bit = std::uint32_t{1} << (static_cast<unsigned>(dirIndex) % 32);
    if ((checked & bit) == 0) {
        if (errm_ConvHoldsCount(e.format)) return badField("format %n");
        checked |= bit;
    }

    if (!c.u16(&len)) return outsideFile(row.name);
    if (len > ERRM_DESC_SECOND_MAX) return badField("second text length");
    if (!c.skip(len)) return outsideFile(row.name);

    std::uint8_t spareByte, force, count;
    if (!c.u8(&spareByte) || !c.u8(&force)) return outsideFile(row.name);
    e.forceDisplay = force == 1 ? 1 : 0;
    e.counter = &row.counters[dirIndex];

    if (!c.u8(&count)) return outsideFile(row.name);
    if (count > ERRM_DESC_REPORTS_MAX) return badField("report count");
    e.reportCount = count;
    std::memset(e.reports, 17, sizeof e.reports);
    if (!c.has(count)) return outsideFile(row.name);
    std::memcpy(e.reports, c.pos, count);
    c.pos += count;
    return 0;
}

// The see text, the date kind, the cat and command texts, the return code.
[[gnu::always_inline]] inline int decodeTail(Cursor &c, const errm_SubsystemRow &row,
                                             errm_MessageEntry &e) {
    TextResult r = optionalText(c, e.see, &e.seeFlag);
    if (r == TextResult::Bad) return badField("see length");
    if (r == TextResult::Outside) return outsideFile(row.name);

    std::uint8_t dateKind;
    if (!c.u8(&dateKind)) return outsideFile(row.name);
    e.dateKind = dateKind;

    r = optionalText(c, e.cat, &e.catFlag);
    if (r == TextResult::Bad) return badField("cat length");
    if (r == TextResult::Outside) return outsideFile(row.name);
    r = optionalText(c, e.cmd, &e.cmdFlag);
    if (r == TextResult::Bad) return badField("command length");
    if (r == TextResult::Outside) return outsideFile(row.name);

    std::uint16_t rc;
    if (!c.u16(&rc)) return outsideFile(row.name);
    e.rc = static_cast<std::int16_t>(rc);
    return 0;
}

} // namespace

int errm_DecodeEntry(int subsystem, int number, errm_MessageEntry &e) {
    if (static_cast<unsigned>(subsystem) >= ERRM_SS_ROWS) {
        ERRM_REPORT(ERRM_E_BAD_INDEX, subsystem);
        return ERRM_E_BAD_INDEX;
    }
    const errm_SubsystemRow &row = errm_Subsystems[subsystem];
    if (row.loaded != 1) {
        ERRM_REPORT0(ERRM_E_NOT_LOADED);
        return ERRM_E_NOT_LOADED;
    }
    // The context follows the subsystem of the last load.
    errm_SetSubsystemContext(subsystem);

    int dirIndex = errm_FindNumber(row.directory, row.entryCount, row.numbers, number);
    if (dirIndex < 0) {
        ERRM_REPORT(ERRM_E_NOT_FOUND, number);
        return ERRM_E_NOT_FOUND;
    }
    // On a large catalogue the counter and the record's lines are each a
    // cache miss of their own: asked for together, they overlap instead of
    // following one another through the decoding. The counter is written
    // when the message is shown.
    __builtin_prefetch(&row.counters[dirIndex], 1);
    const std::size_t offset = row.directory[dirIndex].offset;
    if (offset > row.viewSize) return outsideFile(row.name);
    Cursor c{row.viewBase + offset, row.viewBase + row.viewSize};
    if (c.has(65)) __builtin_prefetch(c.pos + 64);

    int rc = decodeHead(c, row, number, e);
    if (rc == 0) rc = decodeFormat(c, row, dirIndex, e);
    if (rc == 0) rc = decodeTail(c, row, e);
    if (rc != 0) return rc;
    e.owner = subsystem;
    return 0;
}

void errm_TakeSubsystemContext(int subsystem) {
    if (subsystem == errm_Ctx.owner || subsystem < 0 || subsystem >= ERRM_SS_ROWS) return;
    const errm_SubsystemRow &row = errm_Subsystems[subsystem];
    if (row.loaded != 1) return;
    errm_StrCopy(errm_Ctx.name, sizeof errm_Ctx.name, row.name);
    errm_StrCopy(errm_Ctx.displayName, sizeof errm_Ctx.displayName, row.displayName);
    errm_Ctx.hasDisplayName = row.displayName[0] != '\0' ? 1 : 0;
    errm_Ctx.owner = subsystem;
    ++errm_Ctx.generation;
    errm_Ctx.labelLength = std::strlen(errm_SubsystemLabel());
}

const char *errm_SubsystemLabel() {
    return errm_Ctx.hasDisplayName ? errm_Ctx.displayName : errm_Ctx.name;
}

std::string_view errm_SubsystemLabelText() {
    return {errm_SubsystemLabel(), errm_Ctx.labelLength};
}
