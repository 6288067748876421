#pragma once
// A view that shows text: the text, its font, colour, alignment, number of lines and how
// lines break. Headless: the text is kept, not laid out or drawn. Like the platform's
// labels, a label takes no touches unless told so and has no background colour.
// Main thread only.

#include <memory>
#include <string>

#include "platform/ui/Font.h"
#include "platform/ui/View.h"

namespace platform {

enum class TextAlignment : int { Left = 0, Center = 1, Right = 2, Justified = 3, Natural = 4 };

enum class LineBreakMode : int {
    WordWrapping = 0,
    CharWrapping = 1,
    Clipping = 2,
    TruncatingHead = 3,
    TruncatingTail = 4,
    TruncatingMiddle = 5,
};

class Label : public View {
  public:
    static std::shared_ptr<Label> create(const Rect& frame = Rect());

    const std::string& text() const { return text_; }
    void setText(std::string text) { text_ = std::move(text); }
    const Font& font() const { return font_; }
    void setFont(Font font) { font_ = std::move(font); }
    const Color& textColor() const { return textColor_; }
    void setTextColor(Color color) { textColor_ = color; }
    TextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(TextAlignment alignment) { alignment_ = alignment; }
    // 0: as many lines as the text needs.
    int numberOfLines() const { return numberOfLines_; }
    void setNumberOfLines(int lines) { numberOfLines_ = lines; }
    LineBreakMode lineBreakMode() const { return lineBreakMode_; }
    void setLineBreakMode(LineBreakMode mode) { lineBreakMode_ = mode; }

  protected:
    explicit Label(const Rect& frame);

  private:
    std::string text_;
    Font font_ = Font::systemFont(17);
    Color textColor_ = Color::black();
    TextAlignment alignment_ = TextAlignment::Natural;
    int numberOfLines_ = 1;
    LineBreakMode lineBreakMode_ = LineBreakMode::TruncatingTail;
};

}  // namespace platform
