// Which dialect a reader gets: by name, by ATR, by probing the reader.
#include "felica/pcsc/dialect_choice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scripted_channel.h"

namespace felica::pcsc {
namespace {

using test::ScriptedChannel;
using testing::ElementsAre;

const Bytes kFelicaAtr = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
                          0x03, 0x06, 0x11, 0x00, 0x3B, 0x00, 0x00, 0x00, 0x00, 0x42};
const Bytes kAcr122uAtr = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
                           0x03, 0x06, 0x03, 0xF0, 0x11, 0x00, 0x00, 0x00, 0x00, 0x8A};
// A contact card's ATR and a MIFARE card's under the same contactless header.
const Bytes kContactAtr = {0x3B, 0x9F, 0x95, 0x81, 0x31, 0xFE, 0x9F, 0x00, 0x66, 0x46};
const Bytes kMifareAtr = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
                          0x03, 0x06, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x6A};
const ApduReply kRefused = {RwError::none, {0x6A, 0x81}};  // function not supported

TEST(DialectChoice, ByReaderNameOrAtr) {
    // Names as pcscd gives them with libccid (model, interface, slot numbers), and as Windows
    // gives them (after the driver, with a slot number).
    const std::pair<const char*, std::optional<DialectKind>> names[] = {
        {"SONY FeliCa RC-S300/P [RC-S300/P] (0123) 00 00", DialectKind::transparent_session},
        {"Sony FeliCa Port RC-S660/U 00 00", DialectKind::transparent_session},
        {"acs acr122u 01 00", DialectKind::pn532},
        {"ACS ACR1252 Dual Reader [ACR1252 Dual Reader PICC] 00 00", DialectKind::direct},
        {"ACS ACR122 0", DialectKind::pn532},
        {"ACS ACR1252 1S CL Reader PICC 0", DialectKind::direct},
        {"Sony FeliCa Port/PaSoRi 3.0 0", std::nullopt},
        {"Virtual PCD 00 00", std::nullopt},
    };
    for (const auto& [name, dialect] : names) {
        EXPECT_EQ(dialect_by_name(name), dialect) << name;
    }
    EXPECT_EQ(dialect_by_atr(kFelicaAtr), DialectKind::transparent_session);
    EXPECT_EQ(dialect_by_atr(kAcr122uAtr), DialectKind::pn532);
    for (const Bytes& atr :
         {kContactAtr, kMifareAtr, Bytes(kFelicaAtr.begin(), kFelicaAtr.end() - 6), Bytes{}}) {
        EXPECT_EQ(dialect_by_atr(atr), std::nullopt) << testing::PrintToString(atr);
    }
}

TEST(DialectChoice, CandidatesNameFirstThenAtrThenProbing) {
    // The name wins over the ATR; every dialect is there once.
    EXPECT_THAT(dialect_candidates("ACS ACR122U PICC Interface 00 00", kFelicaAtr),
                ElementsAre(DialectKind::pn532, DialectKind::transparent_session,
                            DialectKind::direct, DialectKind::storage_card));
    EXPECT_THAT(dialect_candidates("Virtual PCD 00 00", kAcr122uAtr),
                ElementsAre(DialectKind::pn532, DialectKind::transparent_session,
                            DialectKind::direct, DialectKind::storage_card));
    EXPECT_THAT(dialect_candidates("Virtual PCD 00 00", kContactAtr),
                ElementsAre(DialectKind::transparent_session, DialectKind::pn532,
                            DialectKind::direct, DialectKind::storage_card));
    // The frame-only dialect named by the reader goes first: it is what the reader speaks.
    EXPECT_EQ(dialect_candidates("ACS ACR1252 Reader 00 00", kFelicaAtr).front(),
              DialectKind::direct);
}

// A reader whose driver takes no raw frames (Sony's under Windows, named after the driver,
// with the standard FeliCa ATR) refuses the readers' commands and the bare frame: the choice
// ends on the storage-card commands.
TEST(DialectChoice, ProbingEndsOnTheStorageCardCommands) {
    ScriptedChannel channel;
    const ApduReply idm = {RwError::none, {1, 2, 3, 4, 5, 6, 7, 8, 0x90, 0x00}};  // GET DATA
    channel.replies = {kRefused, kRefused, kRefused, idm};
    const StartedDialect chosen =
        start_dialect(channel, "Sony FeliCa Port/PaSoRi 3.0 0", kFelicaAtr);
    ASSERT_TRUE(chosen.dialect);
    EXPECT_EQ(chosen.dialect->kind(), DialectKind::storage_card);
    ASSERT_EQ(channel.sent.size(), 4u);
    EXPECT_EQ(channel.sent[0][1], 0xC2);  // transparent session
    EXPECT_THAT(Bytes(channel.sent[1].begin(), channel.sent[1].begin() + 7),
                ElementsAre(0xFF, 0x00, 0x00, 0x00, 0x02, 0xD4, 0x02));  // PN532
    EXPECT_THAT(Bytes(channel.sent[2].begin(), channel.sent[2].begin() + 7),
                ElementsAre(0xFF, 0x00, 0x00, 0x00, 0x06, 0x06, 0x00));  // a bare polling frame

    // A card taken away ends the choice.
    ScriptedChannel removed;
    removed.replies = {{RwError::card_removed, {}}};
    EXPECT_EQ(start_dialect(removed, "Unknown 0", {}).error, RwError::card_removed);
    // A reader that refuses all four leaves no dialect.
    ScriptedChannel refusing;
    refusing.replies = {kRefused, kRefused, kRefused, kRefused};
    EXPECT_EQ(start_dialect(refusing, "Unknown 0", {}).error, RwError::malformed_response);
    // A reader whose name says it takes bare frames is not asked.
    ScriptedChannel named;
    EXPECT_EQ(start_dialect(named, "ACS ACR1252 1S CL Reader PICC 0", {}).dialect->kind(),
              DialectKind::direct);
    EXPECT_TRUE(named.sent.empty());
}

}  // namespace
}  // namespace felica::pcsc
