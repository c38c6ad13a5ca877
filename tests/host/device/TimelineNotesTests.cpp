// The timeline's notes of fixed forms: what the maker of a note writes, the reader of the
// form reads back as the same value, and no other form takes it for its own.
#include "host/device/TimelineNotes.h"
#include "support/WordTables.h"

#include <gtest/gtest.h>

using namespace Driver;

namespace {

// How many of the forms take the note for theirs.
int formsReading(std::string_view note)
{
    int forms = 0;
    for (auto text : { Notes::launchFinished, Notes::hitTest, Notes::notificationsCleared })
        forms += note == text;
    forms += Notes::notificationAdded.read(note).has_value();
    for (auto& form : { Notes::flashlight, Notes::biometricEvent, Notes::springboardStarted })
        forms += form.read(note).has_value();
    forms += Notes::biometricMatch.read(note).has_value();
    for (auto& form : { Notes::springboardExited, Notes::springboardNotRestarted })
        forms += form.read(note).has_value();
    return forms;
}

} // namespace

TEST(TimelineNotes, EachFormReadsBackWhatItWroteAndNoOtherFormTakesIt)
{
    using Section = std::optional<std::string>;
    for (Section section : { Section("com.apple.news"), Section(), Section("a b=c") }) {
        auto note = Notes::notificationAdded.line(section);
        EXPECT_EQ(Notes::notificationAdded.read(note), std::optional<Section>(section)) << note;
        EXPECT_EQ(formsReading(note), 1) << note;
    }
    for (auto& form : { Notes::flashlight, Notes::biometricEvent, Notes::springboardStarted }) {
        for (int64_t value : { int64_t(0), int64_t(10), int64_t(-1), INT64_MAX }) {
            EXPECT_EQ(form.read(form.line(value)), value) << form.line(value);
            EXPECT_EQ(formsReading(form.line(value)), 1) << form.line(value);
        }
        EXPECT_FALSE(form.read(std::string(form.prefix) + "bright")) << "a number or nothing";
        EXPECT_FALSE(form.read(std::string(form.prefix) + "3 more")) << "a number and nothing after it";
    }
    for (auto outcome : { MatchOutcome::NoFace, MatchOutcome::Match, MatchOutcome::Fail }) {
        auto note = Notes::biometricMatch.line(outcome);
        EXPECT_EQ(Notes::biometricMatch.read(note), outcome) << note;
        EXPECT_EQ(formsReading(note), 1) << note;
    }
    EXPECT_FALSE(Notes::biometricMatch.read(std::string(Notes::biometricMatch.prefix) + "maybe"));
    TestSupport::expectEveryWordReadsBack<MatchOutcome>();
    for (auto& form : { Notes::springboardExited, Notes::springboardNotRestarted }) {
        auto note = form.line("signal=9");
        EXPECT_EQ(form.read(note), "signal=9") << note;
        EXPECT_EQ(formsReading(note), 1) << note;
    }
    for (auto text : { Notes::launchFinished, Notes::hitTest, Notes::notificationsCleared })
        EXPECT_EQ(formsReading(text), 1) << text;
    EXPECT_EQ(formsReading("spawn /usr/bin/killall -9 SpringBoard"), 0) << "a note of no fixed form";
}
