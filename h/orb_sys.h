// Host services behind the library's interned string table and hash tables:
// the content hash of texts, chunked text storage and the bucket-count growth
// function.
#ifndef H_ORB_SYS_H
#define H_ORB_SYS_H

// Hashes and compares NUL-terminated texts by content. Equal texts hash equally.
struct ORB_CSTR_OPS {
  unsigned hash(char const* text) const;
  bool equal(char const* a, char const* b) const;
};

// Stores copies of texts in large chunks. A pointer from write() stays valid
// until the manager is destroyed; the destructor frees every chunk.
class ORB_STRING_CHUNK_MGR {
 public:
  ORB_STRING_CHUNK_MGR();
  ~ORB_STRING_CHUNK_MGR();
  ORB_STRING_CHUNK_MGR(ORB_STRING_CHUNK_MGR const&) = delete;
  ORB_STRING_CHUNK_MGR& operator=(ORB_STRING_CHUNK_MGR const&) = delete;

  // Copies `text` with its terminating NUL and gives the copy.
  char const* write(char const* text);

 private:
  char* m_chunks;   // most recent chunk; each chunk starts with a link to the previous one
  char* m_free;     // first unused byte of the most recent chunk
  unsigned m_left;  // unused bytes left in the most recent chunk
};

// Gives the bucket count for a table that wants at least `wanted` buckets:
// about one and a half times `wanted`, never less than it, never 0.
unsigned orb_hash_50_percent_increase_size(unsigned wanted);

#endif  // H_ORB_SYS_H
