#include "rules/database/sql_parameters.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

namespace qv {
namespace {

constexpr std::array<std::string_view, 4> kMacros = {"$hostname", "$msg", "$recvtime", "$recvstdtime"};

struct Case {
  const char* name;
  const char* statement;
  const char* text;
  std::vector<std::string> parameters;
};

TEST(SqlParametersTest, MacrosBecomeParametersAndEverythingElseStaysAsWritten) {
  const Case cases[] = {
      {"literals with macros, one parameter each", "INSERT INTO log VALUES ('$hostname', 'at $recvtime: $msg')",
       "INSERT INTO log VALUES (?, ?)", {"$hostname", "at $recvtime: $msg"}},
      {"a macro outside quotes is a parameter of its own", "INSERT INTO log VALUES ($msg,$recvstdtime)",
       "INSERT INTO log VALUES (?,?)", {"$msg", "$recvstdtime"}},
      {"the macro ends where its name does", "SELECT $msgs", "SELECT ?s", {"$msg"}},
      {"doubled quotes are one quote in the value", "VALUES ('it''s $msg ''x''', '''$msg''')", "VALUES (?, ?)",
       {"it's $msg 'x'", "'$msg'"}},
      {"literals without macros stay with their escapes", "VALUES ('it''s', '$', '$Msg', '', '$msg')",
       "VALUES ('it''s', '$', '$Msg', '', ?)", {"$msg"}},
      {"no macros at all", "DELETE FROM log WHERE x = 'a;b' -- old", "DELETE FROM log WHERE x = 'a;b' -- old", {}},
      {"quoted identifiers and comments are not parameters",
       "INSERT INTO \"t$msg\" (`c$msg`) /* '$msg */ VALUES ('$msg') -- '$msg\n, $hostname",
       "INSERT INTO \"t$msg\" (`c$msg`) /* '$msg */ VALUES (?) -- '$msg\n, ?", {"$msg", "$hostname"}},
      {"a quote inside an identifier does not open a literal", "INSERT INTO \"it's\"\"\" VALUES ('$msg')",
       "INSERT INTO \"it's\"\"\" VALUES (?)", {"$msg"}},
      {"an unterminated literal stays as written", "VALUES ($msg, 'it''s $msg", "VALUES (?, 'it''s $msg", {"$msg"}},
      {"an unterminated comment stays as written", "VALUES ($msg) /* $msg", "VALUES (?) /* $msg", {"$msg"}},
      {"empty", "", "", {}},
  };
  for (const Case& c : cases) {
    const SqlWithParameters result = ParameterizeStatement(c.statement, kMacros);
    EXPECT_EQ(result.text, c.text) << c.name;
    EXPECT_EQ(result.parameters, c.parameters) << c.name;
  }
}

}  // namespace
}  // namespace qv
