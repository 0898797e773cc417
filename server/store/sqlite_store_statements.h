#pragma once
// The prepared statements of SqliteStore, made once per connection.

#include <string>

#include "store/sqlite_db.h"

namespace vellumora::server {

struct SqliteStore::Statements {
    explicit Statements(sqlite3* db)
        : insertUser(db,
                     "INSERT OR IGNORE INTO users(id, username, username_key, display_name, password_hash, "
                     "created_at) "
                     "VALUES(?1, ?2, ?3, ?4, ?5, ?6)"),
          loginByKey(db,
                     "SELECT id, username, display_name, password_hash FROM users WHERE username_key = ?1"),
          userById(db, "SELECT id, username, display_name FROM users WHERE id = ?1"),
          setPasswordHash(db, "UPDATE users SET password_hash = ?2 WHERE id = ?1"),
          pendingCounts(db,
                        "SELECT (SELECT count(*) FROM friend_requests WHERE requester_id = ?1), "
                        "(SELECT count(*) FROM friend_requests WHERE target_id = ?2)"),
          insertToken(db, "INSERT INTO tokens(hash, user_id, created_at, last_used) VALUES(?1, ?2, ?3, ?3)"),
          userByToken(db,
                      "SELECT u.id, u.username, u.display_name, t.last_used FROM tokens t "
                      "JOIN users u ON u.id = t.user_id WHERE t.hash = ?1"),
          touchToken(db, "UPDATE tokens SET last_used = ?2 WHERE hash = ?1"),
          tokenUse(db, "SELECT last_used FROM tokens WHERE hash = ?1"),
          deleteToken(db, "DELETE FROM tokens WHERE hash = ?1"),
          deleteTokensOf(db, "DELETE FROM tokens WHERE user_id = ?1"),
          friendsOf(
              db,
              "SELECT u.id, u.username, u.display_name FROM friendships f JOIN users u ON u.id = f.friend_id "
              "WHERE f.user_id = ?1 ORDER BY u.username_key"),
          isFriend(db, "SELECT 1 FROM friendships WHERE user_id = ?1 AND friend_id = ?2"),
          pendingFor(db,
                     "SELECT u.id, u.username, u.display_name, r.created_at FROM friend_requests r "
                     "JOIN users u ON u.id = r.requester_id WHERE r.target_id = ?1 ORDER BY r.created_at, "
                     "u.username_key"),
          requestExists(db, "SELECT 1 FROM friend_requests WHERE requester_id = ?1 AND target_id = ?2"),
          insertRequest(db,
                        "INSERT OR IGNORE INTO friend_requests(requester_id, target_id, created_at) "
                        "VALUES(?1, ?2, ?3)"),
          deleteRequest(db, "DELETE FROM friend_requests WHERE requester_id = ?1 AND target_id = ?2"),
          insertFriendship(
              db, "INSERT OR IGNORE INTO friendships(user_id, friend_id, created_at) VALUES(?1, ?2, ?3)"),
          insertRoom(db, "INSERT OR IGNORE INTO rooms(id) VALUES(?1)"),
          roomById(db, "SELECT room_key, page_id, page_name, page_mime, page_image FROM rooms WHERE id = ?1"),
          strokesOfRoom(db,
                        "SELECT seq, stroke_id, user_id, tool, r, g, b, a, brush_size, complete FROM strokes "
                        "WHERE room_key = ?1 ORDER BY seq"),
          chunksOfRoom(db,
                       "SELECT seq, points FROM stroke_chunks WHERE room_key = ?1 ORDER BY seq, first_idx"),
          insertStroke(db,
                       "INSERT OR REPLACE INTO strokes(room_key, seq, stroke_id, user_id, tool, r, g, b, a, "
                       "brush_size, "
                       "complete) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, 0)"),
          insertChunk(db,
                      "INSERT OR REPLACE INTO stroke_chunks(room_key, seq, first_idx, points) "
                      "VALUES(?1, ?2, ?3, ?4)"),
          endStroke(db, "UPDATE strokes SET complete = 1 WHERE room_key = ?1 AND seq = ?2"),
          deleteStroke(db, "DELETE FROM strokes WHERE room_key = ?1 AND seq = ?2"),
          deleteStrokeChunks(db, "DELETE FROM stroke_chunks WHERE room_key = ?1 AND seq = ?2"),
          clearStrokes(db, "DELETE FROM strokes WHERE room_key = ?1"),
          clearChunks(db, "DELETE FROM stroke_chunks WHERE room_key = ?1"),
          setPage(db,
                  "UPDATE rooms SET page_id = ?2, page_name = ?3, page_mime = ?4, page_image = ?5 "
                  "WHERE room_key = ?1"),
          markUndone(db, "INSERT OR IGNORE INTO undone_strokes(room_key, seq) VALUES(?1, ?2)"),
          unmarkUndone(db, "DELETE FROM undone_strokes WHERE room_key = ?1 AND seq = ?2"),
          clearUndone(db, "DELETE FROM undone_strokes WHERE room_key = ?1"),
          undoneOfRoom(db, "SELECT seq FROM undone_strokes WHERE room_key = ?1") {}

    SqliteStatement insertUser, loginByKey, userById, setPasswordHash, pendingCounts;
    SqliteStatement insertToken, userByToken, touchToken, tokenUse, deleteToken, deleteTokensOf;
    SqliteStatement friendsOf, isFriend, pendingFor, requestExists, insertRequest, deleteRequest,
        insertFriendship;
    SqliteStatement insertRoom, roomById, strokesOfRoom, chunksOfRoom;
    SqliteStatement insertStroke, insertChunk, endStroke, deleteStroke, deleteStrokeChunks, clearStrokes,
        clearChunks;
    SqliteStatement setPage;
    SqliteStatement markUndone, unmarkUndone, clearUndone, undoneOfRoom;
};

}  // namespace vellumora::server
