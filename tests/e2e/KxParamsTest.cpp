// kx-params against a real appserver that wants sessions: an export edited and saved again as
// a Windows spreadsheet would (Windows-1252, ","), its dry run and apply, and the exit codes.
// The CSV reader itself is tried in-process on the files spreadsheets write.
#include "ChildProcess.h"
#include "ParamsCsv.h"
#include "ServerHarness.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// UTF-8 text as Windows-1252 (the characters of the Latin-1 range the tests use).
std::string ToWindows1252(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c == 0xC2 || c == 0xC3) {
            out += static_cast<char>((c == 0xC3 ? 0xC0 : 0x80) | (utf8[++i] & 0x3F));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::vector<std::vector<std::string>> ReadAll(const std::string& path,
                                              ParamsCsv::ReadOptions options = {}) {
    std::vector<std::vector<std::string>> rows;
    ParamsCsv::Reader(path, options).Read([&](long long number, std::vector<std::string>& cells) {
        cells.insert(cells.begin(), std::to_string(number));
        rows.push_back(cells);
        return true;
    });
    return rows;
}

TEST(ParamsCsvTest, ReadsWhatSpreadsheetsWrite) {
    TempDir dir;
    const std::string path = dir.Path() + "/f.csv";
    using Rows = std::vector<std::vector<std::string>>;
    const struct {
        std::string bytes;
        Rows rows;
    } cases[] = {
        // Byte-order mark, ";", CRLF, a quoted cell with the separator, a quote and a line break.
        {"\xEF\xBB\xBF"
         "Código;Nome\r\n000001;\"A;\"\"B\"\"\r\nC\"\r\n\r\n000002; x \r\n",
         {{"1", "Código", "Nome"}, {"2", "000001", "A;\"B\"\r\nC"}, {"3", "000002", "x"}}},
        // Rows of bare separators, as a spreadsheet leaves them, are read as they are (the
        // import passes them over).
        {"Código;Nome\n;\n000001;x\n",
         {{"1", "Código", "Nome"}, {"2", "", ""}, {"3", "000001", "x"}}},
        // Windows-1252 and "," found without being told; no line break at the end.
        {"C\xF3"
         "digo,Raz\xE3o Social\n000001,\"1500,50\"\n000002,\x80",
         {{"1", "Código", "Razão Social"}, {"2", "000001", "1500,50"}, {"3", "000002", "€"}}},
    };
    for (const auto& c : cases) {
        WriteFile(path, c.bytes);
        EXPECT_EQ(ReadAll(path), c.rows);
    }
    // The writer's file reads back as it was written.
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ParamsCsv::Writer w(f);
        w.Row({"Código", "Lista"});
        w.Row({"000001", "0101;0102"});
        w.Row({"000002", " a\"b"});
        std::fclose(f);
    }
    EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBF"
                              "Código;Lista\r\n000001;\"0101;0102\"\r\n000002;\" a\"\"b\"\r\n");
    EXPECT_EQ(
        ReadAll(path),
        (Rows{{"1", "Código", "Lista"}, {"2", "000001", "0101;0102"}, {"3", "000002", " a\"b"}}));
    const struct {
        const char* bytes;
        const char* error;
    } broken[] = {
        {"Código;Nome\n000001;\"sem fim\n",
         "arquivo CSV inválido na linha 2: uma célula entre aspas não se fecha até o fim do "
         "arquivo."},
        {"Código;Nome\n000001;x\n000002;a\"b\n",
         "arquivo CSV inválido na linha 3: aspas no meio de uma célula sem aspas, ou uma célula "
         "entre aspas seguida de outro texto."},
    };
    for (const auto& b : broken) {
        WriteFile(path, b.bytes);
        try {
            ReadAll(path);
            ADD_FAILURE() << b.bytes;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), b.error);
        }
    }
}

struct ParamsRun {
    int code = -1;
    std::string out, err;
};

class KxParamsTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "postgresql" && !std::getenv("KX_TEST_PG"))
            GTEST_SKIP() << "KX_TEST_PG não definido: sem servidor PostgreSQL para os testes";
        db_ = std::make_unique<TestDatabase>(GetParam());
        AddOperator(db_->Url(), "ana", "senha-da-ana-1");
        server_ = std::make_unique<ServerProcess>(
            db_->Url(), std::vector<std::string>{"--today", "2026-12-08", "--auth", "on"});
    }
    ParamsRun Params(std::vector<std::string> args, const std::string& server = "") {
        args.insert(args.begin(), KX_BIN_DIR "/kx-params");
        args.insert(
            args.end(),
            {"--server", server.empty() ? "127.0.0.1:" + std::to_string(server_->Port()) : server});
        ChildCommand command;
        command.argv = args;
        command.env = {{"KX_PASSWORD", "senha-da-ana-1"}, {"KX_OPERATOR", "ana"}};
        const std::string out = dir_.Path() + "/out", err = dir_.Path() + "/err";
        command.out = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        command.err = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const pid_t pid = StartChild(command);
        ::close(command.out);
        ::close(command.err);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
    }
    TempDir dir_;
    std::unique_ptr<TestDatabase> db_;
    std::unique_ptr<ServerProcess> server_;
};
INSTANTIATE_TEST_SUITE_P(Engines, KxParamsTest, ::testing::Values("sqlite", "postgresql"),
                         EngineName);

TEST_P(KxParamsTest, AWindowsSpreadsheetsCopyOfTheExportImportsOnce) {
    const std::string exported = dir_.Path() + "/parametros.csv";
    const ParamsRun ex = Params({"export", "--to", exported});
    ASSERT_EQ(ex.code, 0) << ex.err;
    std::string text = ReadFile(exported);
    ASSERT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    // Saved again by a spreadsheet set to English: "," between cells, the decimal comma quoted,
    // Windows-1252, no byte-order mark; one money cell changed.
    text = text.substr(3);
    ASSERT_NE(text.find(";1500,50;"), std::string::npos) << text;
    text.replace(text.find(";1500,50;"), 9, ";\"1.750,25\";");
    std::string rewritten;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        rewritten += !quoted && c == ';' ? ',' : c;
    }
    const std::string windows = dir_.Path() + "/windows.csv";
    WriteFile(windows, ToWindows1252(rewritten));

    const ParamsRun dry = Params({"import", windows, "--dry-run"});
    EXPECT_EQ(dry.code, 0) << dry.err;
    EXPECT_NE(dry.out.find("Linha 2 (fornecedor 000001): alteraria \"Valor Máximo Permitido\" de "
                           "\"1500,50\" para \"1750,25\"."),
              std::string::npos)
        << dry.out;
    EXPECT_TRUE(db_->LogRows("000001").empty());

    const ParamsRun apply = Params({"import", windows});
    EXPECT_EQ(apply.code, 0) << apply.out << apply.err;
    EXPECT_NE(apply.out.find("9 linhas: 1 alteradas, 8 sem alteração"), std::string::npos)
        << apply.out;
    ASSERT_EQ(db_->LogRows("000001").size(), 1u);
    EXPECT_EQ(db_->LogRows("000001")[0].at("CDOPERADOR"), "ana");
    EXPECT_EQ(db_->ParamRow("000001")->at("VRMAXPERMFORN"), 1750.25);

    const ParamsRun again = Params({"import", windows});
    EXPECT_EQ(again.code, 0) << again.out << again.err;
    EXPECT_NE(again.out.find("1 já aplicadas"), std::string::npos) << again.out;
    EXPECT_EQ(db_->LogRows("000001").size(), 1u);
}

TEST_P(KxParamsTest, ExitCodesTellRefusalsFromUsageAndConnectionErrors) {
    const std::string file = dir_.Path() + "/p.csv";
    ASSERT_EQ(Params({"export", "--to", file, "--code", "000001"}).code, 0);
    std::string text = ReadFile(file);
    const std::string refused = dir_.Path() + "/refused.csv";
    ASSERT_NE(text.find("Ltda;30;"), std::string::npos) << text;
    const std::string broken = dir_.Path() + "/broken.csv";
    WriteFile(refused, std::string(text).replace(text.find("Ltda;30;") + 4, 4, ";-5;") +
                           std::string(25, ';') + "\r\n"); // a row of bare separators is no row
    // A byte-order mark says UTF-8; an overlong form in a cell is that row's refusal alone.
    WriteFile(broken, std::string(text).replace(text.find("Ltda;30;"), 4, "L\xC0\xAF"));
    const struct {
        std::vector<std::string> args;
        std::string server;
        int code;
        const char* says;
    } rows[] = {
        {{"import", file}, "", 0, "1 linha: 0 alteradas, 1 sem alteração"},
        {{"import", refused, "--dry-run"},
         "",
         1,
         "1 linha: 0 a alterar, 0 sem alteração, 0 já "
         "aplicadas, 1 recusadas"},
        {{"import", refused, "--all-or-nothing"}, "", 1, "Nada foi aplicado"},
        {{"import", broken}, "", 1, "Linha 2: recusada: texto que não é UTF-8"},
        {{"import", dir_.Path() + "/nenhum.csv"}, "", 2, "não foi possível ler"},
        {{"export", "--dry-run"}, "", 2, "opção de import em um export"},
        {{"export"}, "127.0.0.1:1", 2, "127.0.0.1:1"},
    };
    for (const auto& r : rows) {
        const ParamsRun run = Params(r.args, r.server);
        EXPECT_EQ(run.code, r.code) << r.args[0] << " " << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(r.says), std::string::npos) << run.out << run.err;
    }
    EXPECT_TRUE(db_->LogRows("000001").empty());
}

} // namespace
