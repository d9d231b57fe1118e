// Ownership tracking: objects with on-deep-change* own their (nested) series, modifying actions
// notify the owner before and after a change, disowning stops that, and records are weak.
#include <gtest/gtest.h>

#include "kel_script.h"

namespace {

using kel::testing::run_kel_text;

using Case = kel::testing::ScriptCase;

const char* const kOwner =
    "o: make object! [b: [[[x]] y] on-deep-change*: func [o w t a n i p] [print [w a i p]]] ";

TEST(Owner, DeepChangeNotices) {
  const Case cases[] = {
      // Three levels down, the same owner and field word; before and after the change.
      {"clear pick pick o/b 1 1", "b clear 0 1\nb cleared 0 1\n"},
      {"poke o/b 2 'z", "b poke 1 1\nb poked 1 1\n"},
      {"reverse o/b", "b reverse 0 2\nb reversed 0 2\n"},
      {"remove o/b", "b remove 0 1\nb removed 0 1\n"},
      // Disowned: no notice any more.
      {"modify o/b 'owned none clear o/b print \"quiet\"", "quiet\n"},
      // Attaching a series to an owner by hand, with a field word of one's own.
      {"b: [1 2] spec: [o q] poke spec 1 o modify b 'owned spec clear b", "q clear 0 2\nq cleared 0 2\n"},
      // A series no object holds: nothing happens.
      {"x: [1 2] clear x print mold x", "[]\n"},
      // The target, the new value and the handler's own argument count.
      {"o2: make object! [b: [1] on-deep-change*: func [o w t a] [print [a mold t]]] poke o2/b 1 5",
       "poke [1]\npoked [5]\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(run_kel_text(std::string(kOwner) + c.code), c.out) << c.code;
}

TEST(Owner, OwnerFlagAndCycles) {
  const Case cases[] = {
      // A block that contains itself is owned without looping.
      {"b: [] poke append-self: [0] 1 append-self o: make object! [x: append-self on-deep-change*: func [o w t a n i p] []] "
       "print reflect o 'owner",
       "true\n"},
      {"print reflect make object! [a: [1]] 'owner", "false\n"},
      {"o: make object! [a: [1]] modify o 'owner none print reflect o 'owner", "true\n"},
      // A handler that is not a function is skipped silently.
      {"o: make object! [b: [1] on-deep-change*: func [o w t a n i p] []] o/on-deep-change*: 5 "
       "clear o/b print \"ok\"",
       "ok\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(run_kel_text(c.code), c.out) << c.code;
}

TEST(Owner, RecordsAreWeak) {
  EXPECT_EQ(kel::testing::run_objects_probe("weak-owner"), "records 2\nowned yes\nafter recycle 0\n");
}

}  // namespace
