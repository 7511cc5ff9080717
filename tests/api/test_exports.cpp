#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

// The shared library exports the C API and nothing else.
TEST(SharedLibrary, ExportsOnlyTheCApi) {
    const std::string cmd = std::string("nm -D --defined-only '") + QRXC_SHARED_LIB + "' 2>/dev/null";
    std::FILE *p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string text;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) text += buf;
    ASSERT_EQ(::pclose(p), 0) << "nm failed on " << QRXC_SHARED_LIB;

    std::set<std::string> names;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string addr, kind, name;
        fields >> addr >> kind >> name;
        if (name.empty()) continue;
        EXPECT_TRUE(name.rfind("Qrxc_", 0) == 0 || name.rfind("Qrmd_", 0) == 0) << "unexpected export " << name;
        names.insert(name);
    }
    for (const char *required : {"Qrxc_version",
                                 "Qrxc_initial",
                                 "Qrxc_frame",
                                 "Qrmd_initial",
                                 "Qrmd_frame",
                                 "Qrxc_create",
                                 "Qrxc_destroy",
                                 "Qrxc_version_ctx",
                                 "Qrxc_initial_ctx",
                                 "Qrxc_frame_ctx",
                                 "Qrmd_initial_ctx",
                                 "Qrmd_frame_ctx",
                                 "Qrmd_last_count",
                                 "Qrmd_last_count_ctx",
                                 "Qrxc_version_string",
                                 "Qrxc_strerror",
                                 "Qrxc_header_length",
                                 "Qrxc_type_info",
                                 "Qrxc_frame_concealed",
                                 "Qrxc_decode_frame",
                                 "Qrxc_encode_frame",
                                 "Qrxc_decoded_samples",
                                 "Qrxc_decode_buffer",
                                 "Qrxc_encoded_bytes",
                                 "Qrxc_encode_buffer",
                                 "Qrxc_set_diagnostics",
                                 "Qrxc_g723_to_standard",
                                 "Qrxc_g723_from_standard",
                                 "Qrxc_decode_standard_ctx",
                                 "Qrxc_parse_header",
                                 "Qrxc_write_header",
                                 "Qrxc_open_decoding_ctx",
                                 "Qrmd_open_ctx",
                                 "Qrmd_process_ctx"})
        EXPECT_TRUE(names.count(required) == 1) << "missing export " << required;
}
