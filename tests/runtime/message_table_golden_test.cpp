// Walks the whole message table against an independent list of every code and the first
// line of its text, so that an entry lost, added or mistyped in the table source shows up.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <set>
#include <string>

#include "runtime/message_table.h"
#include "runtime/zel_error.h"

namespace {

struct GoldenEntry {
    uint32_t code;
    const char* firstLine;  // null: the wording is our own choice, checked separately
};

constexpr GoldenEntry kGolden[] = {
    {0x40000003u, "%1"},
    {0x80000002u, "%1"},
    {0xC0000001u, "%1"},
    {0xC0000004u, "The system cannot write to the specified device."},
    {0x4721000Eu, "Timed out waiting for a control request."},
    {0x4721003Bu, "The requested locking operation could not be completed."},
    {0x47210043u, "Not responding"},
    {0x47210044u, "Not available"},
    {0x47210045u, "Scanning"},
    {0x47210046u, "Upgrading"},
    {0x47210047u, "Unknown"},
    {0x47210048u, "Initializing"},
    {0x47210049u, "Active"},
    {0x4721004Au, "Stopped"},
    {0x4721004Bu, "Paused"},
    {0x4721004Cu, "Updating"},
    {0x4721004Du, "Starting"},
    {0x4721004Eu, "Stopping"},
    {0x4721004Fu, "Pausing"},
    {0x47210050u, "Resuming"},
    {0x47210051u, "Applying policy"},
    {0x47210052u, "Applying response file"},
    {0x47210053u, "Applying property file"},
    {0x47210054u, "Launching QPK install"},
    {0x47210055u, "Revoking master status"},
    {0x47210056u, "Error"},
    {0x47210057u, "Unknown product type"},
    {0x47210059u, "Not managed"},
    {0x4721005Au, "Connecting"},
    {0x4721005Bu, "Closed"},
    {0x4721005Cu, "Online"},
    {0x4721005Du, "Offline"},
    {0x4721005Eu, "Idle"},
    {0x4721005Fu, "Waiting"},
    {0x47210061u, "Active with errors"},
    {0x47210062u, "Not found"},
    {0x47210063u, "Completed"},
    {0x47210064u, "Unused"},
    {0x47210096u, "The version specified is the current one."},
    {0x4721009Cu, ""},
    {0x4721009Du, "Unknown"},
    {0x4721009Eu, "Up to Date"},
    {0x4721009Fu, "Out of Date"},
    {0x472100A0u, "In Progress"},
    {0x472100A1u, "Error"},
    {0x472100A2u, "Scheduled"},
    {0x8721009Bu, "QPK return will contain better status information."},
    {0xC7210001u, "Not enough storage is available to process this operation."},
    {0xC7210002u, "Attempt to access invalid virtual memory address."},
    {0xC7210003u, "The parameter is invalid."},
    {0xC7210004u, "Not enough virtual memory is available to complete this operation."},
    {0xC7210005u, "The subsystem encountered an internal inconsistency."},
    {0xC7210006u, "More data are available."},
    {0xC7210007u, "The system cannot read from the specified device."},
    {0xC7210008u, "No more data are available."},
    {0xC7210009u, "The supplied handle is invalid."},
    {0xC721000Au, "The system cannot find the file specified."},
    {0xC721000Bu, "The system cannot find the path specified."},
    {0xC721000Cu, "The file name of the policy is not set."},
    {0xC721000Du, "The policy file could not be opened."},
    {0xC721000Fu, "The specified image file did not contain a resource section."},
    {0xC7210010u, "The specified resource name cannot be found in the image file."},
    {0xC7210011u, "A buffer operation failed because the buffer was shared and in-use at the time"},
    {0xC7210012u, "The stream buffer was shorted than expected based on the data item format"},
    {0xC7210013u, "The stream buffer operation is invalid for the type of buffer being used."},
    {0xC7210014u, "An attempt was made to encode one of the reserved UNICODE BMP values (0xFFFE,"},
    {0xC7210015u, "An attempt was made to encode a character code outside of the UCS-4 range (i.e.,"},
    {0xC7210016u, "A UTF-8 sequence decoded a character code outside the defined UNICODE character"},
    {0xC7210017u, "An attempt was made to decode a UNICODE UTF-16 surrogate sequence which contains"},
    {0xC7210018u, "The UNICODE UTF-8 sequence contains a missing lead character (i.e., a continuing"},
    {0xC7210019u, "The expected sequence of continuing character codes did not follow the UTF-8"},
    {0xC721001Au, "An overly complex UTF-8 encoding sequence was detected. The sequence was"},
    {0xC721001Bu, "The policy file could not be saved."},
    {0xC721001Cu, "The resource cannot be opened because security descriptors are preventing access."},
    {0xC721001Du, "The process cannot access the file because it is being used by another process."},
    {0xC721001Eu, "There is not enough space on the disk."},
    {0xC721001Fu, "None"},
    {0xC7210020u, "None."},
    {0xC7210021u, "The system cannot open the device or file specified."},
    {0xC7210022u, "Cannot allocate memory"},
    {0xC7210023u, "None"},
    {0xC7210024u, "None"},
    {0xC7210025u, "The device is busy."},
    {0xC7210026u, "The file or directory already exists."},
    {0xC7210027u, "The system cannot find the device specified, operation is not supported by device, or device is not ready."},
    {0xC7210028u, "The directory name is invalid."},
    {0xC7210029u, "None"},
    {0xC721002Au, "None"},
    {0xC721002Bu, "None"},
    {0xC721002Cu, "The file data or protocol data unit were not valid."},
    {0xC721002Du, nullptr},
    {0xC721002Eu, "OpenSSL or xmlsec error code (0x%1!x!)"},
    {0xC721002Fu, "The required agent was not found."},
    {0xC7210030u, "The configuration file is invalid."},
    {0xC7210031u, "The file %1 exists, and could not be written."},
    {0xC7210032u, "An attempt was made to convert an incomplete UTF-8 or UTF-16 sequence."},
    {0xC7210033u, "An attempt was made to convert an invalid character encoding.  The invalid"},
    {0xC7210034u, "An invalid value was encountered in a UTF-32 character stream."},
    {0xC7210035u, "An attempt was made to use an uninitialized object."},
    {0xC7210036u, "The WinSock DLL cannot be loaded because either its missing or the required version is not installed."},
    {0xC7210037u, "The directory %1 cannot be created."},
    {0xC7210038u, "The operation could not be completed. A retry should be performed."},
    {0xC7210039u, "An operation will not be performed because a shutdown is in progress."},
    {0xC721003Au, "The requested operation was refused."},
    {0xC721003Cu, "The requested functionality is not implemented."},
    {0xC721003Du, "The file is empty."},
    {0xC721003Eu, "Connection refused. No connection could be made because the target machine actively refused it.  This usually results from trying to connect to a service that is inactive on the foreign host - there is no server application running."},
    {0xC721003Fu, "Software caused connection abort."},
    {0xC7210040u, "Connection reset by peer. An existing connection was forcibly closed by the remote host. This normally results if the peer application on the remote host is suddenly stopped, the host is rebooted, or the remote host used a \"hard close\" (see setsockopt(SO_LINGER)) on the remote socket."},
    {0xC7210041u, "Host is down. A socket operation failed because the destination host was down.  A socket operation encountered a dead host."},
    {0xC7210042u, "The referenced or returned object is invalid."},
    {0xC7210095u, "The specified item or object was not found."},
    {0xC7210097u, "The agent authentication password failed an integrity check."},
    {0xC7210098u, "The agent authentication password is in an unrecognized format."},
    {0xC7210099u, "The required parameter was not found."},
    {0xC721009Au, "The thread failed to start."},
    {0xC72100B6u, "Decryption failed."},
    {0x47380001u, "Warning parsing CML input."},
    {0x47380022u, "A (possibly optional) value was not specified."},
    {0x87380012u, "Multiple elements matched the given search criteria."},
    {0x87380013u, "No elements matched the given search criteria."},
    {0xC7380002u, "Error parsing CML input."},
    {0xC7380003u, "Fatal error parsing CML input.  Probable cause:  content is not well-formed XML."},
    {0xC7380004u, "The request is not recognized."},
    {0xC7380005u, "Invalid CML content was detected; this indicates an inconsistency between the CML schema and parser."},
    {0xC7380006u, "Invalid CML content was detected; this indicates an empty element that should contain data."},
    {0xC7380007u, "An invalid IP address was specified."},
    {0xC7380008u, "An invalid time string was specified."},
    {0xC7380009u, "A policy container is missing or of an invalid type."},
    {0xC738000Au, "A document namespace is not recognized."},
    {0xC738000Bu, "An array or vector index was out of bounds."},
    {0xC738000Cu, "The schema version of the document is not recognized by the parser."},
    {0xC738000Du, "A schema is missing or of an invalid type."},
    {0xC738000Eu, "An object contains descendant elements belonging to the same namespace, but with different schema versions."},
    {0xC738000Fu, "An unexpected null element was encountered."},
    {0xC7380010u, "An internal error resulted in an invalid method invocation."},
    {0xC7380011u, "The document belongs to an unexpected namespace."},
    {0xC7380014u, "Internal error:  an unexpected object type was detected."},
    {0xC7380016u, "The request is not supported."},
    {0xC7380017u, "The set policy request failed to complete successfully. See item-specific details for more specific error information."},
    {0xC7380018u, "The get policy request failed to complete successfully. See item-specific details for more specific error information."},
    {0xC7380019u, "The set schema request failed to complete successfully. See item-specific details for more specific error information."},
    {0xC738001Au, "The get schema request failed to complete successfully. See item-specific details for more specific error information."},
    {0xC738001Du, "The get policy response failed to complete successfully. See item-specific details for more specific error information."},
    {0xC738001Eu, "The get schema response failed to complete successfully. See item-specific details for more specific error information."},
    {0xC738001Fu, "Internal error:  a conversion of invalid types was attempted."},
    {0xC7380020u, "The configure task request failed to complete successfully. See task-specific details for more specific error information."},
    {0xC7380021u, "A tagname is not recognized."},
    {0xC7380023u, "A mandatory element or attribute was not specified."},
    {0xC7380024u, "An insertion failed; the inserted element's key already exists. "},
    {0xC7380025u, "An invalid iterator was provided for an operation on a collection."},
    {0x47560004u, "The sensor services library is already initialized."},
    {0x47560006u, "No policy change for the get-policy-request."},
    {0x47560008u, "Properties already exist for this agent and were not updated."},
    {0x47560013u, "No policy available for the get-policy-request."},
    {0x47560014u, "The agent has been unregistered by the management system."},
    {0x87560009u, "Sensor services found a set-policy-request in the heartbeat that was not recognized or understood. It was ignored."},
    {0x8756000Au, "Sensor services found a get-policy-request in the heartbeat that was not recognized or understood. It was ignored."},
    {0xC7560001u, "The sensor service failed to locate a registered callback function for CML element: '%1'."},
    {0xC7560002u, "The sensor service failed to locate an internal heartbeat object. Use CreateHeartbeat() first."},
    {0xC7560003u, "The sensor services library is not initialized and cannot be used."},
    {0xC7560005u, "The sensor services could not parse or read the CML response."},
    {0xC7560007u, "The agent does not have a properties file in the system and needs to send one."},
    {0xC756000Bu, "The agent properties file could not be loaded."},
    {0xC756000Cu, "The agent properties file contained invalid CML and could not be loaded."},
    {0xC756000Du, "Could not process the groups settings update."},
    {0xC756000Eu, "The sensor services request timed out before completion."},
    {0xC756000Fu, "The sensor services request failed due to a communication problem."},
    {0xC7560010u, "Failure while adding optional agent properties to the heartbeat."},
    {0xC7560011u, "The agent does not have a global policy for the specified namespace."},
    {0xC7560012u, "The policy document not be loaded."},
    {0x47590002u, "The session config services library is already initialized."},
    {0x47590016u, "Abort the current transfer."},
    {0x47590017u, "Operation returned OK (HTTP 200)."},
    {0x4759001Fu, "Your request was accepted and is being processed.  Retry again later (HTTP 202)."},
    {0x8759000Cu, "The server returned a redirect status code (300, 301, 302, 303, 307)."},
    {0x8759000Du, "The server returned a 304 indicating that the resource was not modified."},
    {0xC7590001u, "The session config services library is not initialized and cannot be used."},
    {0xC7590003u, "The session config services library failed to initialize the transport services library."},
    {0xC7590004u, "The specified property was not found."},
    {0xC7590005u, "The specified property file could not be loaded."},
    {0xC7590006u, "The session config services could not parse or read the agent properties."},
    {0xC7590007u, "The destination specifier does not correspond to a destination in the properties."},
    {0xC7590008u, "The send operation failed due to bad input."},
    {0xC7590009u, "The send operation failed due to a communication failure."},
    {0xC759000Au, "The send operation failed due to an uncaught exception."},
    {0xC759000Bu, "The server returned an HTTP error."},
    {0xC759000Eu, "The server returned a 305 indicating that a proxy is required."},
    {0xC759000Fu, "The server returned a 401 indicating authorization is required for this request."},
    {0xC7590010u, "The server returned a 403 forbidden or a forbidden action was attempted."},
    {0xC7590011u, "The server returned a 404 not found."},
    {0xC7590012u, "The server returned a code indicating an unsupported operation in this product."},
    {0xC7590013u, "The server returned an 503 server busy error."},
    {0xC7590014u, "Security problem or error during communications establishment with server."},
    {0xC7590015u, "Failed to open the local file %1."},
    {0xC7590018u, "Operation returned bad request (HTTP 400)."},
    {0xC7590019u, "Operation returned not found (HTTP 404)."},
    {0xC759001Au, "Operation returned internal failure (HTTP 500)."},
    {0xC759001Bu, "Operation returned server busy (HTTP 503)."},
    {0xC759001Cu, "A local file write operation failed."},
    {0xC759001Du, "A local file read operation failed."},
    {0xC759001Eu, "No agent ID has been specified."},
    {0xC7590020u, "The requested file was only partially downloaded."},
};

TEST(MessageTableGolden, EveryCodeHasItsText) {
    for (const GoldenEntry& golden : kGolden) {
        if (!golden.firstLine) continue;
        zel::ZELError error(golden.code);
        SCOPED_TRACE(error.GetIdText());
        const std::string firstLine = golden.firstLine;

        // The table holds the line as defined, followed by a line break or the final CR LF.
        const zel::MessageEntry* entry = zel::FindMessage(golden.code);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(std::string(entry->text).substr(0, firstLine.size() + 2), firstLine + "\r\n");

        // GetText finds it: plain at width 0 ends in CR LF (the fallback text does not) and
        // starts with the first line, less the trailing blanks that a last line loses.
        const std::string text = error.GetText(0, {}, true);
        const std::string shown = firstLine.substr(0, firstLine.find_last_not_of(' ') + 1);
        EXPECT_EQ(text.substr(0, shown.size()), shown);
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    }
}

TEST(MessageTableGolden, CryptoProviderTextShowsItsNumberInHexadecimal) {
    zel::ZELError error(0xC721002Du);
    const std::string text = error.GetText(0, {0xBEEFu}, true);
    EXPECT_NE(text.find("0xbeef"), std::string::npos) << text;
    EXPECT_NE(text.find("not installed"), std::string::npos) << text;
    EXPECT_EQ(text.find("Status "), std::string::npos) << text;
}

TEST(MessageTableGolden, TableHoldsNoOtherCodes) {
    std::set<uint32_t> golden;
    for (const GoldenEntry& entry : kGolden) golden.insert(entry.code);
    ASSERT_EQ(golden.size(), std::size(kGolden));
    size_t count = 0;
    for (const zel::MessageEntry* e = zel::MessageTableBegin(); e != zel::MessageTableEnd(); ++e, ++count)
        EXPECT_EQ(golden.count(e->code), 1u) << std::hex << "extra code 0x" << e->code;
    EXPECT_EQ(count, golden.size());
}

}  // namespace
