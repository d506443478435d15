// Which dialect a reader gets: by name, by ATR, by probing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "felica/pcsc/dialect_choice.h"

namespace {

using felica::Bytes;
using felica::pcsc::DialectKind;
using testing::ElementsAre;

const Bytes kFelicaAtr = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
                          0x03, 0x06, 0x11, 0x00, 0x3B, 0x00, 0x00, 0x00, 0x00, 0x42};
const Bytes kAcr122uAtr = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
                           0x03, 0x06, 0x03, 0xF0, 0x11, 0x00, 0x00, 0x00, 0x00, 0x8A};
// A contact card's ATR and a MIFARE card's under the same contactless header.
const Bytes kContactAtr = {0x3B, 0x9F, 0x95, 0x81, 0x31, 0xFE, 0x9F, 0x00, 0x66, 0x46};
const Bytes kMifareAtr = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
                          0x03, 0x06, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x6A};

TEST(DialectChoice, ByReaderName) {
    // Names as pcscd gives them with libccid: model, interface, slot numbers.
    EXPECT_EQ(felica::pcsc::dialect_by_name("SONY FeliCa RC-S300/P [RC-S300/P] (0123) 00 00"),
              DialectKind::transparent_session);
    EXPECT_EQ(felica::pcsc::dialect_by_name("Sony FeliCa Port RC-S660/U 00 00"),
              DialectKind::transparent_session);
    EXPECT_EQ(felica::pcsc::dialect_by_name("ACS ACR122U PICC Interface 00 00"),
              DialectKind::pn532);
    EXPECT_EQ(felica::pcsc::dialect_by_name("acs acr122u 01 00"), DialectKind::pn532);
    EXPECT_EQ(
        felica::pcsc::dialect_by_name("ACS ACR1252 Dual Reader [ACR1252 Dual Reader PICC] 00 00"),
        DialectKind::direct);
    // Windows names readers after the driver, with a slot number.
    EXPECT_EQ(felica::pcsc::dialect_by_name("SONY FeliCa RC-S300/P 0"),
              DialectKind::transparent_session);
    EXPECT_EQ(felica::pcsc::dialect_by_name("ACS ACR122 0"), DialectKind::pn532);
    EXPECT_EQ(felica::pcsc::dialect_by_name("ACS ACR1252 1S CL Reader PICC 0"),
              DialectKind::direct);
    EXPECT_EQ(felica::pcsc::dialect_by_name("Sony FeliCa Port/PaSoRi 3.0 0"), std::nullopt);
    EXPECT_EQ(felica::pcsc::dialect_by_name("Virtual PCD 00 00"), std::nullopt);
    EXPECT_EQ(felica::pcsc::dialect_by_name(""), std::nullopt);
}

TEST(DialectChoice, ByAtr) {
    EXPECT_EQ(felica::pcsc::dialect_by_atr(kFelicaAtr), DialectKind::transparent_session);
    EXPECT_EQ(felica::pcsc::dialect_by_atr(kAcr122uAtr), DialectKind::pn532);
    EXPECT_EQ(felica::pcsc::dialect_by_atr(kContactAtr), std::nullopt);
    EXPECT_EQ(felica::pcsc::dialect_by_atr(kMifareAtr), std::nullopt);
    EXPECT_EQ(felica::pcsc::dialect_by_atr(Bytes(kFelicaAtr.begin(), kFelicaAtr.begin() + 14)),
              std::nullopt);
    EXPECT_EQ(felica::pcsc::dialect_by_atr(Bytes{}), std::nullopt);
}

TEST(DialectChoice, CandidatesNameFirstThenAtrThenProbing) {
    using felica::pcsc::dialect_candidates;
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
}  // namespace
