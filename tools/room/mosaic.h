// The picture grid of a room: row v, column s shows the last picture viewer
// v was shown of sender s; the diagonal is each player's own preview. Rows
// carry their viewer's number on the left, columns their sender's on top, and
// a pair that showed nothing is crossed out in red.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace room {

class Room;

class Mosaic {
public:
    // rows x columns tiles of 160 x 120, all grey until a picture is put in.
    Mosaic(int rows, int columns);

    // The player numbers shown beside row `row` and above column `column`.
    void LabelRow(int row, int player);
    void LabelColumn(int column, int player);
    // A red cross over the tile: the pair showed no picture.
    void MarkFailed(int row, int column);

    // `picture` is 160 x 120 BGR stored bottom row first; an empty one leaves the tile grey.
    void Put(int row, int column, const std::vector<uint8_t>& picture);

    int Width() const { return width_; }
    int Height() const { return height_; }
    // Upright RGB rows, top row first.
    const std::vector<uint8_t>& Rgb() const { return rgb_; }

    bool WritePng(const std::string& path, std::string* error) const;

private:
    int TileLeft(int column) const;
    int TileTop(int row) const;
    void Fill(int left, int top, int width, int height, const uint8_t* rgb);
    void DrawNumber(int left, int top, int number);

    int width_;
    int height_;
    std::vector<uint8_t> rgb_;
};

// The room's mosaic after Stop: one row per player here, one column per
// player of the room.
Mosaic BuildMosaic(const Room& room);

}  // namespace room
