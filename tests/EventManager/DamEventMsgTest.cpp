#include <gtest/gtest.h>


#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "EventManager/Event/DamEventMsg.h"
#include "proto/RapidJsonProto.h"
#include "support/HostEnvironment.h"
#include "support/LogCapture.h"

namespace {

using iobox::CSPDamEventMsg;

const char* const kSource = "src/EventManager/Event/DamEventMsg.cpp";
const char* const kDebugLine = "[%s]event message %s[%s(%d)]";
const char* const kPictureLine = "[%s]create pictrue file, file name %s, file length %d[%s(%d)]";

std::shared_ptr<proto::IProto> SmallDocument()
{
    auto document = std::make_shared<proto::CRapidJsonProto>();
    document->set_v(std::string("/Event/BasicInfo/DeviceName"), std::string("Gate box"));
    return document;
}

std::string ContentOf(CSPDamEventMsg& message)
{
    char* data = nullptr;
    unsigned int length = 0;
    EXPECT_TRUE(message.GetContent(&data, &length));
    return data == nullptr ? std::string() : std::string(data, length);
}

std::shared_ptr<std::string> Picture(const std::string& bytes) { return std::make_shared<std::string>(bytes); }

// Switches into a fresh temporary directory for the life of the object; Path() is empty if none.
class TempWorkingDirectory {
public:
    TempWorkingDirectory() : m_previous(std::filesystem::current_path())
    {
        std::random_device random;
        std::error_code error;
        for (int i = 0; i < 8 && m_path.empty(); ++i) {
            const auto path = std::filesystem::temp_directory_path(error) / ("iobox-events-" + std::to_string(random()));
            if (!error && std::filesystem::create_directory(path, error)) { // false when the name is taken
                m_path = path.string();
                std::filesystem::current_path(m_path);
            }
        }
    }
    ~TempWorkingDirectory()
    {
        std::error_code ignored;
        std::filesystem::current_path(m_previous, ignored);
        if (!m_path.empty()) {
            std::filesystem::remove_all(m_path, ignored);
        }
    }
    const std::string& Path() const { return m_path; }

private:
    std::filesystem::path m_previous;
    std::string m_path;
};

class DamEventMsgTest : public ::testing::Test {
protected:
    testsupport::HostEnvironment host;
    testsupport::LogCapture log;
};

TEST_F(DamEventMsgTest, ContentIsTextThenNulThenPicturesBuiltOnce)
{
    for (const std::vector<std::string>& pictures :
         {std::vector<std::string>{}, {std::string("a\0b", 3), "", std::string("\0\0c", 3)}}) {
        auto document = SmallDocument();
        const std::string text = document->get_str(0);
        CSPDamEventMsg message(document);
        message.AddPicture(nullptr); // a missing picture is not a picture
        std::string expected = text + std::string(1, '\0');
        for (const auto& picture : pictures) {
            message.AddPicture(Picture(picture));
            expected += picture;
        }
        EXPECT_EQ(message.HasPictures(), !pictures.empty());

        char* first = nullptr;
        unsigned int firstLength = 0;
        ASSERT_TRUE(message.GetContent(&first, &firstLength));
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(std::string(first, firstLength), expected);
        EXPECT_EQ(std::string(first), text) << "the text must end at its NUL";

        // A later change of the document does not rebuild what the host may already hold.
        document->set_v(std::string("/Event/BasicInfo/DeviceName"), std::string("other"));
        char* second = nullptr;
        unsigned int secondLength = 0;
        ASSERT_TRUE(message.GetContent(&second, &secondLength));
        EXPECT_EQ(second, first);
        EXPECT_EQ(std::string(second, secondLength), expected);
    }
}

TEST_F(DamEventMsgTest, DebugModeLogsTheMessageOnceAndWritesEachPictureIntoThePictureDirectory)
{
    TempWorkingDirectory cwd;
    ASSERT_FALSE(cwd.Path().empty());
    std::filesystem::create_directory("tmp_picture");
    const std::vector<std::string> pictures = {std::string("\xFF\xD8" "first\0x", 9), "second picture"};
    auto send = [&] {
        auto document = SmallDocument();
        CSPDamEventMsg message(document);
        for (const auto& picture : pictures) {
            message.AddPicture(Picture(picture));
        }
        ContentOf(message);
        ContentOf(message); // the second call only reads
        return document->get_str(0);
    };

    host.deviceManager->SetDebugMode(false);
    send();
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
    EXPECT_TRUE(std::filesystem::is_empty("tmp_picture"));

    host.deviceManager->SetDebugMode(true);
    const std::string text = send();
    EXPECT_TRUE(log.HasLine(3, "[iobox::CSPDamEventMsg::GetContent]event message " + text, kSource)) << log.Dump();
    EXPECT_EQ(log.CountFormat(kDebugLine), 1u);
    const auto pictureLines = log.WithFormat(kPictureLine);
    ASSERT_EQ(pictureLines.size(), pictures.size()) << log.Dump();
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator("tmp_picture")) {
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().filename().string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_EQ(files.size(), pictures.size());
    const std::string head = "[iobox::CSPDamEventMsg::GetContent]create pictrue file, file name ";
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        // The line names a ten-character file, written as <name>.jpg with the picture's bytes.
        const std::string name = pictureLines[i].text.substr(head.size(), 10);
        EXPECT_TRUE(log.HasLine(3, head + name + ", file length " + std::to_string(pictures[i].size()), kSource))
            << pictureLines[i].text;
        EXPECT_EQ(files[name + ".jpg"], pictures[i]) << name;
    }

    // Without the directory the lines are still written and nothing is created.
    std::filesystem::remove_all("tmp_picture");
    log.Clear();
    send();
    EXPECT_EQ(log.CountFormat(kPictureLine), pictures.size());
    EXPECT_TRUE(std::filesystem::is_empty(cwd.Path()));
}

} // namespace
