#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "EventManager/Event/DamEventMsg.h"
#include "EventManager/EventTestHost.h"
#include "Marl/Base/Singleton.h"
#include "dam/InterfaceManager.h"
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
    document->set_v(std::string("/Event/BasicInfo/EventType"), 5030);
    document->set_v(std::string("/Event/BasicInfo/DeviceName"), std::string("Gate box"));
    return document;
}

std::string ContentOf(CSPDamEventMsg& message)
{
    char* data = nullptr;
    unsigned int length = 0;
    EXPECT_TRUE(message.GetContent(&data, &length));
    EXPECT_NE(data, nullptr);
    return data == nullptr ? std::string() : std::string(data, length);
}

// The ten-character file name a picture line reports.
std::string PictureNameOf(const std::string& line)
{
    const std::string marker = "file name ";
    const auto at = line.find(marker);
    return at == std::string::npos ? std::string() : line.substr(at + marker.size(), 10);
}

std::string PictureLine(const std::string& name, std::size_t size)
{
    return "[iobox::CSPDamEventMsg::GetContent]create pictrue file, file name " + name + ", file length " +
           std::to_string(size);
}

std::shared_ptr<std::string> Picture(const std::string& bytes) { return std::make_shared<std::string>(bytes); }

class DamEventMsgTest : public ::testing::Test {
protected:
    testsupport::HostEnvironment host;
    testsupport::LogCapture log;
};

TEST_F(DamEventMsgTest, ContentIsTextThenNulThenPicturesBackToBack)
{
    struct Case {
        const char* name;
        std::vector<std::string> pictures;
    };
    const std::vector<Case> cases = {
        {"no pictures", {}},
        {"one picture", {"\xFF\xD8\xFF\xE0jpeg"}},
        {"pictures with NUL bytes and an empty one", {std::string("a\0b", 3), "", std::string("\0\0c", 3)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto document = SmallDocument();
        const std::string text = document->get_str(0);
        ASSERT_FALSE(text.empty());
        CSPDamEventMsg message(document);
        std::string expected = text + std::string(1, '\0');
        for (const auto& picture : c.pictures) {
            message.AddPicture(Picture(picture));
            expected += picture;
        }
        EXPECT_EQ(message.HasPictures(), !c.pictures.empty());

        char* data = nullptr;
        unsigned int length = 0;
        ASSERT_TRUE(message.GetContent(&data, &length));
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(length, expected.size());
        EXPECT_EQ(std::string(data, length), expected);
        EXPECT_EQ(std::string(data), text) << "the text must end at its NUL";
    }
}

TEST_F(DamEventMsgTest, ContentIsBuiltOnceAndKeepsItsPointer)
{
    auto document = SmallDocument();
    CSPDamEventMsg message(document);
    message.AddPicture(Picture("pic"));
    char* first = nullptr;
    unsigned int firstLength = 0;
    ASSERT_TRUE(message.GetContent(&first, &firstLength));
    const std::string firstBytes(first, firstLength);

    // A later change of the document does not rebuild what the host may already hold.
    document->set_v(std::string("/Event/BasicInfo/EventType"), 1);
    char* second = nullptr;
    unsigned int secondLength = 0;
    ASSERT_TRUE(message.GetContent(&second, &secondLength));
    EXPECT_EQ(second, first);
    EXPECT_EQ(secondLength, firstLength);
    EXPECT_EQ(std::string(second, secondLength), firstBytes);
}

TEST_F(DamEventMsgTest, AccessorsStartAtZeroAndKeepWhatIsSet)
{
    auto document = SmallDocument();
    CSPDamEventMsg message(document);
    EXPECT_EQ(message.GetProto(), document);
    EXPECT_EQ(message.GetEventType(), 0u);
    EXPECT_EQ(message.GetSourceType(), 0u);
    EXPECT_EQ(message.GetSourceID(), 0u);
    EXPECT_FALSE(message.HasPictures());
    message.SetEventType(5030);
    message.SetSourceType(1003);
    message.SetSourceID(0xFFFFFFF0u);
    EXPECT_EQ(message.GetEventType(), 5030u);
    EXPECT_EQ(message.GetSourceType(), 1003u);
    EXPECT_EQ(message.GetSourceID(), 0xFFFFFFF0u);
    message.AddPicture(nullptr);
    EXPECT_FALSE(message.HasPictures()) << "a missing picture is not a picture";
}

TEST_F(DamEventMsgTest, DebugModeOffWritesNoLineAndNoFile)
{
    eventtest::TempWorkingDirectory cwd;
    std::filesystem::create_directory("tmp_picture");
    host.deviceManager->SetDebugMode(false);
    CSPDamEventMsg message(SmallDocument());
    message.AddPicture(Picture("one"));
    ContentOf(message);
    EXPECT_EQ(log.CountFormat(kDebugLine), 0u);
    EXPECT_EQ(log.CountFormat(kPictureLine), 0u);
    EXPECT_TRUE(std::filesystem::is_empty("tmp_picture"));
}

TEST_F(DamEventMsgTest, DebugModeOnLogsMessageOnceAndWritesEachPicture)
{
    eventtest::TempWorkingDirectory cwd;
    std::filesystem::create_directory("tmp_picture");
    host.deviceManager->SetDebugMode(true);
    auto document = SmallDocument();
    const std::string text = document->get_str(0);
    CSPDamEventMsg message(document);
    const std::vector<std::string> pictures = {std::string("\xFF\xD8" "first\0x", 9), "second picture"};
    for (const auto& picture : pictures) {
        message.AddPicture(Picture(picture));
    }
    ContentOf(message);
    ContentOf(message); // the second call only reads

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
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const auto& line = pictureLines[i];
        EXPECT_EQ(line.level, 3);
        const std::string name = PictureNameOf(line.text);
        ASSERT_EQ(name.size(), 10u) << line.text;
        EXPECT_TRUE(log.HasLine(3, PictureLine(name, pictures[i].size()), kSource)) << line.text;
        auto file = files.find(name + ".jpg");
        ASSERT_NE(file, files.end()) << name;
        EXPECT_EQ(file->second, pictures[i]);
    }
}

TEST_F(DamEventMsgTest, DebugModeWithoutPictureDirectoryStillLogsAndCreatesNothing)
{
    eventtest::TempWorkingDirectory cwd;
    host.deviceManager->SetDebugMode(true);
    CSPDamEventMsg message(SmallDocument());
    message.AddPicture(Picture("lost"));
    const std::string content = ContentOf(message);
    EXPECT_EQ(content.size(), SmallDocument()->get_str(0).size() + 1 + 4);
    EXPECT_EQ(log.CountFormat(kDebugLine), 1u);
    const auto pictureLines = log.WithFormat(kPictureLine);
    ASSERT_EQ(pictureLines.size(), 1u) << log.Dump();
    EXPECT_TRUE(log.HasLine(3, PictureLine(PictureNameOf(pictureLines[0].text), 4), kSource)) << log.Dump();
    EXPECT_TRUE(std::filesystem::is_empty(cwd.Path())) << "the directory is not created";
}

TEST_F(DamEventMsgTest, MissingDeviceManagerSkipsDebugSwitchWithWarning)
{
    eventtest::TempWorkingDirectory cwd;
    std::filesystem::create_directory("tmp_picture");
    host.deviceManager->SetDebugMode(true);
    Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->SetDeviceManager(nullptr);
    auto document = SmallDocument();
    CSPDamEventMsg message(document);
    message.AddPicture(Picture("p"));
    EXPECT_EQ(ContentOf(message), document->get_str(0) + std::string(1, '\0') + "p");
    EXPECT_TRUE(log.HasLine(4, "[iobox::CSPDamEventMsg::GetContent]Device manager is null, debug switch not read",
                            kSource))
        << log.Dump();
    EXPECT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(std::filesystem::is_empty("tmp_picture"));
}

} // namespace
