// What hostapp says about a command line it cannot run: one line on stderr naming the option,
// the usage after it where the option itself was wrong, exit code 2, nothing on stdout.
#include "HostappProcess.h"

#include <gtest/gtest.h>

TEST(HostappCommandLine, RefusesUnknownOptionsMissingValuesAndLoneScreenshots) {
    struct Case {
        std::vector<std::string> args;
        std::string said;
        bool usage;
    };
    const Case cases[] = {
        {{"--bogus"}, "hostapp: opção desconhecida --bogus", true},
        {{"--DB", "sqlite:x.db"}, "hostapp: opção desconhecida --DB", true},
        {{"--script", "-", "--db"}, "hostapp: falta o valor de --db", true},
        {{"--insecure", "--ca"}, "hostapp: falta o valor de --ca", true},
        // The first fault ends the reading: an option after it is never looked at.
        {{"--today", "2026-12-08", "--operator"}, "hostapp: falta o valor de --operator", true},
        {{"-x", "--connect-timeout"}, "hostapp: opção desconhecida -x", true},
        {{"--screenshot", "tela.png"}, "hostapp: --screenshot exige --script", false},
        {{"--connect-timeout", "0.05", "--script", "-"},
         "hostapp: valor inválido em --connect-timeout: \"0.05\" (use de 0.1 a 600 segundos)",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " ... " + c.args.back());
        HostappProcess refused(c.args);
        EXPECT_EQ(refused.Finish(), 2);
        EXPECT_TRUE(refused.RemainingLines().empty());
        const std::string err = refused.Stderr();
        EXPECT_EQ(err.substr(0, err.find('\n')), c.said);
        EXPECT_EQ(err.find("\nuso: hostapp [--db URL]") == c.said.size(), c.usage) << err;
    }
}
