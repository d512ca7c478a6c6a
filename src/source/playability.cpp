#include "source/playability.h"

#include "song/tables.h"
#include "source/spelling.h"

void PlayabilityCheck::DeclareTrack(int track) { declared_[static_cast<size_t>(track)] = true; }

std::optional<std::string> PlayabilityCheck::Note(const StreamEvent& note, std::set<Tie>& tiesOut) {
    const int track = note.Track();
    if (track < 0 || !declared_[static_cast<size_t>(track)])
        return "track " + std::to_string(track) + " has no 'track' line";
    // A note of no length is held past its end in its first tick.
    if (DurationTicks(note.Duration()) == 0)
        return "the duration code " + std::to_string(note.Duration()) + " lasts no tick";
    if (note.IsRest() && (note.TieBegin() || note.TieEnd())) return "a rest cannot be tied";
    const Tie tie{track, note.Pitch()};
    if (note.TieEnd() && tiesIn_.erase(tie) == 0) {
        TextOut word;
        AppendNote(word, note);
        return "the 'te' note '" + word.Take() + "' continues no tie-begin note of the line before";
    }
    if (note.TieBegin()) tiesOut.insert(tie);
    return std::nullopt;
}

std::optional<std::string> PlayabilityCheck::Group(int line, std::span<const StreamEvent> events) {
    std::set<Tie> tiesOut;
    int notes = 0;     // notes and rests, tie continuations included
    int newNotes = 0;  // notes and rests that take a new slot
    for (const StreamEvent& event : events) {
        if (event.Code() == kCodeSongEnd) ended_ = true;
        // The player takes a tempo of 0 for 120.
        if (event.Code() == kCodeTempo && event.ArgumentByte() == 0) return "the tempo must be 1..255, not '0'";
        if (!event.IsNote()) continue;
        if (std::optional<std::string> refusal = Note(event, tiesOut)) return refusal;
        ++notes;
        if (!event.TieEnd()) ++newNotes;
    }
    if (notes > 0) {
        if (!tiesIn_.empty()) {
            const int track = tiesIn_.begin()->first;
            return "the tie-begin note on track " + std::to_string(track) + " at line " + std::to_string(tieLine_) +
                   " is not continued by a 'te' note of the same pitch here";
        }
        if (notes > slots_)
            return "the line holds " + std::to_string(notes) + " notes, the player has " + std::to_string(slots_) +
                   " slots";
        // The player applies groups until one takes a new slot: a group of
        // tie continuations alone would start together with the next one.
        if (newNotes == 0) return "a line of 'te' notes only needs a new note or rest as well";
        tiesIn_ = std::move(tiesOut);
        tieLine_ = line;
    }
    if (ended_ && !tiesIn_.empty()) return "the song ends inside a tie";
    return std::nullopt;
}

std::optional<std::string> PlayabilityCheck::RawBytes() const {
    if (ended_) return std::nullopt;  // after the song end, never read
    return "raw 'bytes' before the song end: the player reads them as whatever events they code";
}

std::optional<std::string> PlayabilityCheck::Finish() const {
    if (!ended_) return "the song has no 'end'";
    return std::nullopt;
}
