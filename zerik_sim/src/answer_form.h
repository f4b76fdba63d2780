// The description of an answer sheet the simulated scanner feeds: paper, timing track, grid
// of mark columns, the marks a candidate made, printed labels and a Code 128 barcode.
//
// A form is a text file, one setting per line; '#' starts a comment. Lengths across the
// paper are pixels, lengths down it are lines, both at 200 per inch; positions are on the
// paper, its top-left corner being 0 0.
//
//   paper W H                   size of the paper
//   place X LEAD TRAIL          page pixel of the paper's left edge, backing lines before and
//                               after the paper
//   skew DEGREES                rotation of the paper on the page, clockwise (-3..3)
//   shade PAPER BACKING NOISE   pixel value of blank paper (225..250) and of the scanner's
//                               backing (0..16), and the spread of the pixel noise (0..4)
//   seed N                      seed of the noise and the pencil texture
//   timing X WIDTH              timing track: centre and width of its marks
//   rows COUNT FIRST PITCH HEIGHT
//                               rows of the grid: count, top line of row 1, lines from one
//                               row to the next, height of timing marks and mark boxes
//   columns X ...               centres of mark columns 1, 2, ... (may be repeated; at most 40)
//                               (the reader measures the skew from column 1 outward, so put
//                               column 1 next to the timing track)
//   box WIDTH                   width of a mark box
//   calibration                 row 1 is printed black in every mark column
//   barcode X Y MODULE HEIGHT TEXT
//                               horizontal Code 128 (set B) with its left bar at X, top at Y,
//                               MODULE pixels per module, bars HEIGHT lines high
//   text X Y TEXT               printed label (digits, A-Z, blank, - . : /), top-left at X Y
//   numbers X FIRST_ROW FIRST   question numbers FIRST, FIRST+1, ... beside rows FIRST_ROW..
//   fill ROW COLUMN [DARKNESS]  a filled mark, darkness 45..63 (default 58)
//   half ROW COLUMN [DARKNESS]  a half-filled (lightly pencilled) mark, 22..34 (default 30)
//   smudge ROW COLUMN [DARKNESS] what an eraser left behind, 0..14 (default 12)
//   answers ROW COLUMN LETTERS  the answers of consecutive questions: the k-th letter (k
//                               from 0) marks row ROW+k in column COLUMN + letter - 'A';
//                               A..Z fill, a..z half-fill, '.' leaves the row blank
//
// Darkness is the scale of the recognition (0 white .. 63 black).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zerik::sim {

enum class MarkKind { Fill, Half, Smudge };

struct FormMark {
    int row = 0;     // from 1
    int column = 0;  // mark column, from 1
    MarkKind kind = MarkKind::Fill;
    int darkness = 0;
};

struct FormText {
    int x = 0;
    int y = 0;
    std::string text;
};

struct FormBarcode {
    int x = 0;
    int y = 0;
    int module = 3;
    int height = 0;
    std::string text;  // empty: no barcode
};

struct Form {
    int paper_width = 1654;
    int paper_height = 1400;
    int paper_x = 37;
    int lead_lines = 40;
    int trail_lines = 60;
    double skew_degrees = 0;
    int paper_shade = 236;
    int backing_shade = 10;
    int noise = 2;
    std::uint32_t seed = 1;
    int timing_x = 50;
    int timing_width = 36;
    int rows = 0;
    int first_row = 0;
    int pitch = 40;
    int mark_height = 14;
    std::vector<int> columns;
    int box_width = 28;
    bool calibration_row = false;
    FormBarcode barcode;
    std::vector<FormText> texts;
    std::vector<FormMark> marks;
};

// The form the scanner feeds when it is given none: a four-block answer sheet of 25
// questions each, with a calibration row and a candidate barcode.
std::string_view DefaultFormText();

// Parses and checks a form. On failure returns false with *error naming the line.
bool ParseForm(std::string_view text, Form* form, std::string* error);

// What the reader is expected to see in each row: one character per mark column, 'X' for a
// filled mark (grade 10..15), 'h' for a half-filled one (grade 3..9), '.' for none (a blank
// box or a smudge).
std::vector<std::string> ExpectedRows(const Form& form);

}  // namespace zerik::sim
