// fortran.cpp - the Fortran module generator: the type table (C parameter
// type -> Fortran dummy, shim parameter and argument), names, the C shims,
// the module, then the command.
#include "fortran.h"

#include "escape.h"
#include "fields.h"
#include "input.h"
#include "names.h"
#include "output.h"
#include "version.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>

namespace errmc {

namespace {

// How one C parameter type crosses from Fortran. Fortran has no unsigned
// integers: an unsigned C type is passed in the signed kind of its width and
// converted back in the shim.
struct CrossType {
    const char *ctype;        // as the printf parser names it
    const char *fortranDummy; // declaration of the module procedure's dummy
    const char *bindDummy;    // declaration in the bind(C) interface
    const char *shimType;     // the shim's parameter type
    const char *shimCast;     // cast applied in the shim ("" for none)
    const char *kind;         // iso_c_binding name the declarations use
};

constexpr std::array<CrossType, 16> kCrossTypes{{
    {"int", "integer(c_int), intent(in)", "integer(c_int), value", "int", "", "c_int"},
    {"long", "integer(c_long), intent(in)", "integer(c_long), value", "long", "", "c_long"},
    {"long long", "integer(c_long_long), intent(in)", "integer(c_long_long), value", "long long",
     "", "c_long_long"},
    {"intmax_t", "integer(c_intmax_t), intent(in)", "integer(c_intmax_t), value", "intmax_t", "",
     "c_intmax_t"},
    {"ptrdiff_t", "integer(c_ptrdiff_t), intent(in)", "integer(c_ptrdiff_t), value", "ptrdiff_t",
     "", "c_ptrdiff_t"},
    {"unsigned int", "integer(c_int), intent(in)", "integer(c_int), value", "int",
     "(unsigned int)", "c_int"},
    {"unsigned long", "integer(c_long), intent(in)", "integer(c_long), value", "long",
     "(unsigned long)", "c_long"},
    {"unsigned long long", "integer(c_long_long), intent(in)", "integer(c_long_long), value",
     "long long", "(unsigned long long)", "c_long_long"},
    {"uintmax_t", "integer(c_intmax_t), intent(in)", "integer(c_intmax_t), value", "intmax_t",
     "(uintmax_t)", "c_intmax_t"},
    {"size_t", "integer(c_size_t), intent(in)", "integer(c_size_t), value", "size_t", "",
     "c_size_t"},
    {"double", "real(c_double), intent(in)", "real(c_double), value", "double", "", "c_double"},
    {"long double", "real(c_long_double), intent(in)", "real(c_long_double), value",
     "long double", "", "c_long_double"},
    {"const char *", "character(*), intent(in)", "character(kind=c_char), dimension(*), intent(in)",
     "const char *", "", "c_char"},
    {"wint_t", "integer(c_int), intent(in)", "integer(c_int), value", "int", "(wint_t)", "c_int"},
    {"const wchar_t *", "type(c_ptr), intent(in)", "type(c_ptr), value", "const wchar_t *", "",
     "c_ptr"},
    {"const void *", "type(c_ptr), intent(in)", "type(c_ptr), value", "const void *", "",
     "c_ptr"},
}};

// %c takes an int in C; from Fortran it is one character, passed as its code.
constexpr CrossType kCharacter{"int", "character, intent(in)", "integer(c_int), value", "int", "",
                               "c_int"};

// The iso_c_binding names every module uses; the kinds of its messages'
// parameters are added (c_ptrdiff_t is Fortran 2018: only %td needs it).
constexpr std::array<const char *, 7> kIsoCBase{
    "c_int", "c_size_t", "c_char", "c_null_char", "c_ptr", "c_associated", "c_f_pointer"};

constexpr std::size_t kMaxFortranName = 63;

struct Argument {
    const CrossType *type = nullptr;
    bool character = false; // %c: a Fortran character
};

const CrossType *FindCrossType(const std::string &ctype) {
    for (const CrossType &t : kCrossTypes)
        if (ctype == t.ctype) return &t;
    return nullptr;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// A Fortran string literal: quotes doubled; the subsystem name holds no
// control characters.
std::string FortranLiteral(std::string_view s) {
    std::string out = "\"";
    for (char c : s)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// A C text shown in a comment: escaped to ASCII and kept short enough for a
// Fortran line.
std::string Shown(std::string_view text) {
    std::string q = CQuoted(text);
    if (q.size() > 90) q = q.substr(0, 86) + "...\"";
    return q;
}

struct MessagePlan {
    const errmdesc::Message *m;
    std::string base; // lower-case <prefix>_<name>
    std::vector<Argument> args;
};

// ", a1, a2" style lists.
std::string Join(const std::vector<std::string> &items, const std::string &sep) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i ? sep : "") + items[i];
    return out;
}

std::string ShimParameters(const MessagePlan &p) {
    std::string out = "int subsystem";
    for (std::size_t i = 0; i < p.args.size(); ++i) {
        const std::string t = p.args[i].type->shimType;
        out += ", " + t + (t.back() == '*' ? "" : " ") + "a" + std::to_string(i + 1);
    }
    return out;
}

std::string ShimArguments(const MessagePlan &p) {
    std::string out;
    for (std::size_t i = 0; i < p.args.size(); ++i)
        out += std::string(", ") + p.args[i].type->shimCast + "a" + std::to_string(i + 1);
    return out;
}

// Dummy names of a Fortran procedure, continued one per line.
std::string DummyList(const std::vector<std::string> &names) {
    if (names.empty()) return "()";
    return "( &\n      " + Join(names, ", &\n      ") + ")";
}

// The actual arguments the module procedure hands to its shim.
std::vector<std::string> ShimActuals(const MessagePlan &p) {
    std::vector<std::string> out{"handle"};
    for (std::size_t i = 0; i < p.args.size(); ++i) {
        const std::string a = "a" + std::to_string(i + 1);
        if (p.args[i].character)
            out.push_back("ichar(" + a + ", kind=c_int)");
        else if (std::string(p.args[i].type->ctype) == "const char *")
            out.push_back(a + " // c_null_char");
        else
            out.push_back(a);
    }
    return out;
}

void Interface(std::ostringstream &f, const MessagePlan &p, const std::string &shim,
               const char *result) {
    std::vector<std::string> dummies{"subsystem"};
    for (std::size_t i = 0; i < p.args.size(); ++i)
        dummies.push_back("a" + std::to_string(i + 1));
    f << "    function " << shim << DummyList(dummies) << " &\n        bind(C, name=\"" << shim
      << "\") result(r)\n      import\n      integer(c_int), value :: subsystem\n";
    for (std::size_t i = 0; i < p.args.size(); ++i)
        f << "      " << p.args[i].type->bindDummy << " :: a" << i + 1 << '\n';
    f << "      " << result << " :: r\n    end function " << shim << '\n';
}

void Procedure(std::ostringstream &f, const MessagePlan &p, const std::string &name,
               const std::string &shim, bool text) {
    std::vector<std::string> dummies;
    for (std::size_t i = 0; i < p.args.size(); ++i)
        dummies.push_back("a" + std::to_string(i + 1));
    const std::string call = shim + "(" + Join(ShimActuals(p), ", &\n        ") + ")";
    f << "\n  function " << name << DummyList(dummies) << " result(r)\n";
    for (std::size_t i = 0; i < p.args.size(); ++i)
        f << "    " << (p.args[i].character ? kCharacter.fortranDummy : p.args[i].type->fortranDummy)
          << " :: a" << i + 1 << '\n';
    if (text)
        f << "    character(:), allocatable :: r\n    r = from_c(" << call << ")\n";
    else
        f << "    integer(c_int) :: r\n    r = " << call << '\n';
    f << "  end function " << name << '\n';
}

} // namespace

FortranModule GenerateFortran(const errmdesc::Catalogue &cat, const std::string &sourceName) {
    FortranModule out;
    std::string prefix = Lower(CPrefix(cat.subsystem));
    if (prefix.empty() || !std::isalpha(static_cast<unsigned char>(prefix[0])))
        prefix = "m" + prefix; // a Fortran name starts with a letter
    out.moduleName = prefix + "_messages";

    // Fortran names ignore case and stop at 63 characters; every generated
    // name, the module's own and the iso_c_binding ones it uses must differ.
    std::set<std::string> taken{"handle", "from_c", "c_strlen", "errm_read_descriptor",
                                out.moduleName, prefix + "_load", prefix + "_set_handle",
                                prefix + "_handle"};
    for (const char *n : kIsoCBase)
        taken.insert(n);
    for (const CrossType &t : kCrossTypes)
        taken.insert(t.kind);
    std::vector<MessagePlan> plans;
    for (const errmdesc::Message &m : cat.messages) {
        MessagePlan p{&m, prefix + "_" + Lower(m.name), {}};
        const std::string what = "message " + std::to_string(m.number) + " (" + m.name + ")";
        if (!IsCIdentifier(m.name)) {
            out.problems.push_back(what + ": the name is not an identifier");
            continue;
        }
        for (const std::string &n : {p.base, p.base + "_process", p.base + "_text"}) {
            if (n.size() + 2 > kMaxFortranName)
                out.problems.push_back(what + ": the Fortran name " + n + " is longer than " +
                                       std::to_string(kMaxFortranName - 2) + " characters");
            else if (!taken.insert(n).second)
                out.problems.push_back(what + ": the Fortran name " + n +
                                       " is already taken (Fortran names ignore case)");
        }
        bool usable = true;
        const std::vector<Parameter> params = FormatParameters(m.format, &usable);
        if (!usable) out.problems.push_back(what + ": the format is not one errmc check accepts");
        for (const Parameter &param : params) {
            const bool character = param.ctype == "int" && !param.star &&
                                   !param.conversion.empty() && param.conversion.back() == 'c';
            const CrossType *t = FindCrossType(param.ctype);
            if (!t) {
                out.problems.push_back(what + ": no Fortran type for the C type " + param.ctype);
                break;
            }
            p.args.push_back({t, character});
        }
        plans.push_back(std::move(p));
    }
    if (!out.problems.empty()) return out;
    std::vector<std::string> iso(kIsoCBase.begin(), kIsoCBase.end());
    for (const MessagePlan &p : plans)
        for (const Argument &a : p.args)
            if (std::find(iso.begin(), iso.end(), a.type->kind) == iso.end())
                iso.push_back(a.type->kind);
    std::string isoList;
    for (std::size_t i = 0; i < iso.size(); ++i)
        isoList += (i == 0 ? "" : i % 7 == 0 ? ", &\n      " : ", ") + iso[i];

    // ------------------------------------------------------------ C shims
    std::ostringstream c;
    c << "/* C functions of fixed parameters that the Fortran module " << out.moduleName
      << " binds to;\n * each calls ERRM_ProcessError or ERRM_Get_ErrorMessage with its "
         "arguments in\n * the C types the message's format takes.\n"
      << " * Generated by " << Writer() << " from " << CQuoted(sourceName)
      << ": do not edit. */\n"
      << "#include <errm.h>\n#include <stddef.h>\n#include <stdint.h>\n#include <wchar.h>\n";
    for (const MessagePlan &p : plans) {
        const std::string number = std::to_string(p.m->number);
        c << "\n/* message " << number << ' ' << p.m->name << " */\n";
        c << "int " << p.base << "_process_c(" << ShimParameters(p) << ");\n";
        c << "int " << p.base << "_process_c(" << ShimParameters(p)
          << ")\n{\n    return ERRM_ProcessError((unsigned int)subsystem, " << number
          << ShimArguments(p) << ");\n}\n";
        c << "const char *" << p.base << "_text_c(" << ShimParameters(p) << ");\n";
        c << "const char *" << p.base << "_text_c(" << ShimParameters(p)
          << ")\n{\n    return ERRM_Get_ErrorMessage((unsigned int)subsystem, " << number
          << ShimArguments(p) << ");\n}\n";
    }
    out.shims = c.str();

    // -------------------------------------------------------------- module
    std::ostringstream f;
    f << "! Message numbers and message procedures of subsystem " << Shown(cat.subsystem)
      << ".\n! Generated by " << Writer() << " from " << Shown(sourceName)
      << ": do not edit.\n!\n"
      << "! " << prefix << "_load() loads the subsystem's descriptor and keeps its index;\n"
      << "! " << prefix << "_set_handle(index) adopts an index loaded elsewhere.\n"
      << "! <name>_process(...) processes a message like ERRM_ProcessError and returns\n"
      << "! its return code; <name>_text(...) returns its text like ERRM_Get_ErrorMessage\n"
      << "! ('' when there is none). Their arguments are those of the message's format.\n"
      << "module " << out.moduleName << "\n  use, intrinsic :: iso_c_binding, only: "
      << isoList << "\n  implicit none\n  private\n\n";
    f << "  integer(c_int), save :: handle = -1\n\n";
    f << "  public :: " << prefix << "_load, " << prefix << "_set_handle, " << prefix
      << "_handle\n";
    for (const MessagePlan &p : plans)
        f << "  public :: " << p.base << ", " << p.base << "_process, " << p.base << "_text\n";
    if (!plans.empty()) f << '\n';
    for (const MessagePlan &p : plans) {
        const std::int32_t n = p.m->number;
        f << "  ! " << p.m->name << ": "
          << Keyword(errmdesc::kSeverityNames, p.m->severity) << ' '
          << Shown(p.m->format) << '\n';
        // -2147483648 is not a literal Fortran can write.
        f << "  integer(c_int), parameter :: " << p.base << " = "
          << (n == INT32_MIN ? std::string("-2147483647_c_int - 1_c_int")
                             : std::to_string(n) + "_c_int")
          << '\n';
    }
    f << "\n  interface\n"
      << "    function errm_read_descriptor(subsystem, index) &\n"
      << "        bind(C, name=\"ERRM_ReadErrorDescriptor\") result(r)\n"
      << "      import\n      character(kind=c_char), dimension(*), intent(in) :: subsystem\n"
      << "      integer(c_int), intent(out) :: index\n      integer(c_int) :: r\n"
      << "    end function errm_read_descriptor\n"
      << "    function c_strlen(s) bind(C, name=\"strlen\") result(r)\n      import\n"
      << "      type(c_ptr), value :: s\n      integer(c_size_t) :: r\n"
      << "    end function c_strlen\n";
    for (const MessagePlan &p : plans) {
        Interface(f, p, p.base + "_process_c", "integer(c_int)");
        Interface(f, p, p.base + "_text_c", "type(c_ptr)");
    }
    f << "  end interface\n\ncontains\n\n";
    f << "  ! Loads the descriptor of " << Shown(cat.subsystem)
      << "; 0 on success, else the library's error code.\n"
      << "  function " << prefix << "_load() result(r)\n    integer(c_int) :: r\n"
      << "    integer(c_int) :: index\n    r = errm_read_descriptor(" << FortranLiteral(cat.subsystem)
      << " // c_null_char, index)\n    if (r == 0) handle = index\n  end function " << prefix
      << "_load\n\n"
      << "  subroutine " << prefix << "_set_handle(index)\n    integer(c_int), intent(in) :: index\n"
      << "    handle = index\n  end subroutine " << prefix << "_set_handle\n\n"
      << "  function " << prefix << "_handle() result(r)\n    integer(c_int) :: r\n"
      << "    r = handle\n  end function " << prefix << "_handle\n\n"
      << "  function from_c(p) result(r)\n    type(c_ptr), intent(in) :: p\n"
      << "    character(:), allocatable :: r\n    character(kind=c_char), pointer :: chars(:)\n"
      << "    integer(c_size_t) :: n, i\n    if (.not. c_associated(p)) then\n      r = ''\n"
      << "      return\n    end if\n    n = c_strlen(p)\n    call c_f_pointer(p, chars, [n])\n"
      << "    allocate(character(len=n) :: r)\n    do i = 1, n\n      r(i:i) = chars(i)\n"
      << "    end do\n  end function from_c\n";
    for (const MessagePlan &p : plans) {
        Procedure(f, p, p.base + "_process", p.base + "_process_c", false);
        Procedure(f, p, p.base + "_text", p.base + "_text_c", true);
    }
    f << "\nend module " << out.moduleName << '\n';
    out.module = f.str();
    return out;
}

int FortranCommand(const std::string &source, const std::string &moduleFile,
                   const std::string &shimsFile, Streams io) {
    if (moduleFile.empty()) {
        io.Error("--lang fortran writes two files: give the module's with -o");
        return kExitFailed;
    }
    const std::optional<InputCatalogue> in = ReadAnyCatalogue(source, io);
    if (!in) return kExitFailed;
    const FortranModule m = GenerateFortran(
        in->cat, source == "-" ? ShownName(source) : std::filesystem::path(source).filename().string());
    for (const std::string &p : m.problems)
        io.Error(p);
    if (!m.problems.empty()) return kExitFailed;
    const std::string shims =
        shimsFile.empty() ? std::filesystem::path(moduleFile).replace_extension(".c").string()
                          : shimsFile;
    return WriteOutputs({{moduleFile, m.module}, {shims, m.shims}}, io) ? kExitOk : kExitFailed;
}

} // namespace errmc
