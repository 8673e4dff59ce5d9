// A file in the temporary folder named for the test that uses it, removed with it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

class TempFile {
public:
    explicit TempFile(const std::string& name)
        : m_path(std::filesystem::temp_directory_path() /
                 (name + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                  "-" + testName())) {}
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }
    std::string path() const { return m_path.string(); }
    void write(const std::string& content) const {
        std::ofstream(m_path, std::ios::binary) << content;
    }
    std::string read() const {
        std::ifstream file(m_path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }

private:
    // A parameterised test's name holds '/'.
    static std::string testName() {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name) {
            c = c == '/' ? '_' : c;
        }
        return name;
    }

    std::filesystem::path m_path;
};
