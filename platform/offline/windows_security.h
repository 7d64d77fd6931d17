// A replaced file keeps its Windows security on an NTFS drive mounted with ntfs-3g.
#pragma once

namespace offline {

// Gives newFile the Windows security descriptor, attributes and creation time that oldFile has
// on an ntfs-3g mount (its system.ntfs_* extended attributes), so that a file replaced by a new
// one keeps its owner and ACL rather than getting ntfs-3g's default, full access for everyone.
// Call it once the new content is written, before the rename. Where the file system keeps no
// such attributes there is nothing to carry, and that is no failure. False, with errno set,
// when the file system has them and refuses them to the new file.
bool CarryWindowsSecurity(int oldFile, int newFile);

}  // namespace offline
