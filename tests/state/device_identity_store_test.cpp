#include "connector/state/device_identity_store.h"

#include <gtest/gtest.h>

#include "connector/state/platform_texts.h"
#include "tests/support/temporary_folder.h"

namespace korvane::connector {
namespace {

TEST(DeviceIdentity, NewIdentityNamesThePlatformItRunsOn) {
    for (const PlatformTexts& texts : {linux_platform_texts(), macos_platform_texts()}) {
        const TemporaryFolder root;
        const DeviceIdentity identity = DeviceIdentityStore(root.path(), texts).load_or_create();
        EXPECT_EQ(identity.device_id.rfind(texts.device_id_prefix, 0), 0u) << identity.device_id;
        EXPECT_EQ(identity.device_id.size(), texts.device_id_prefix.size() + 12);
        EXPECT_EQ(identity.device_label, texts.device_label);
        EXPECT_EQ(identity.platform, texts.platform);
    }
    EXPECT_EQ(linux_platform_texts().device_id_prefix, "device:linux:");
    EXPECT_EQ(linux_platform_texts().device_label, "Korvane Connector (Linux)");
    EXPECT_EQ(macos_platform_texts().device_id_prefix, "device:macos:");
    EXPECT_EQ(macos_platform_texts().relay_label, "macOS connector");
}

TEST(DeviceIdentity, AnotherPlatformsTextsAreCorrectedAndTheIdsKept) {
    const std::string ids = "device_id=device:macos:0123456789ab\nconnector_instance_id=connector:c1\n";
    const struct {
        std::string stored;
        PlatformTexts texts;
        std::string written;
    } cases[] = {
        // An identity an older build wrote on Linux with the macOS texts.
        {ids + "device_label=Korvane Connector (macOS)\nplatform=macos\nowner_wallet=0xw\npaired=1\n",
         linux_platform_texts(),
         ids + "device_label=Korvane Connector (Linux)\nplatform=linux\nowner_wallet=0xw\npaired=1\n"},
        // A label the user chose stays; an empty value stays empty.
        {ids + "device_label=Desk\nplatform=macos\n", linux_platform_texts(),
         ids + "device_label=Desk\nplatform=linux\nowner_wallet=\npaired=0\n"},
        {ids + "device_label=\nplatform=\n", linux_platform_texts(),
         ids + "device_label=\nplatform=\nowner_wallet=\npaired=0\n"},
        // The same on a Mac that got a Linux home folder; a Mac's own identity is left alone.
        {ids + "device_label=Korvane Connector (Linux)\nplatform=linux\n", macos_platform_texts(),
         ids + "device_label=Korvane Connector (macOS)\nplatform=macos\nowner_wallet=\npaired=0\n"},
        {ids + "device_label=Korvane Connector (macOS)\nplatform=macos\n", macos_platform_texts(),
         ids + "device_label=Korvane Connector (macOS)\nplatform=macos\nowner_wallet=\npaired=0\n"},
    };
    for (const auto& c : cases) {
        const TemporaryFolder root;
        root.write("device_identity.env", c.stored);
        const DeviceIdentity identity = DeviceIdentityStore(root.path(), c.texts).load_or_create();
        EXPECT_EQ(root.read("device_identity.env"), c.written) << c.stored;
        EXPECT_EQ(identity.device_id, "device:macos:0123456789ab");
    }
}

}  // namespace
}  // namespace korvane::connector
