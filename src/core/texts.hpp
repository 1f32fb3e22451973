// Every fixed text that the module shows to Python code: messages, names and documentation.
//
// These texts are part of the module's interface. Callers match on them (in `except` clauses,
// logs, tests, the interpreter's own help), so they must never be reworded, re-punctuated or
// "improved", not even where they read like another library's wording: that wording is the
// interface. Each "{}" is filled in order by core::fill. The reasons of the JSON reader are the
// other half of this table and live with the reader (core/json/reasons.cpp).
#pragma once

#include <string_view>

namespace vemrat::texts {

// --- The module and its classes -----------------------------------------------------------------

inline constexpr const char* module_name = "vemrat_pay";
inline constexpr const char* module_doc = "";
inline constexpr std::string_view version = "0.1.0";
inline constexpr std::string_view sub_interpreters =
    "vemrat_pay does not support sub-interpreters: it can only be imported in the first interpreter that "
    "imported it";

inline constexpr const char* client_type = "builtins.Client";
inline constexpr const char* payment_result_type = "builtins.PaymentResult";
inline constexpr const char* order_status_type = "builtins.OrderStatus";

// The signature form: the interpreter shows __doc__ as "" and the text signature from it.
inline constexpr const char* client_doc = "Client(community_key=None, sponsor_key=None)\n--\n\n";
inline constexpr const char* payment_result_doc = "Payment result returned by create_payment.";
inline constexpr const char* order_status_doc = "Order status returned by query_order.";

inline constexpr const char* create_payment_doc =
    "create_payment($self, amount, currency, recipient_account, notify_url, pay_mode=\"split\", return_url=None)\n"
    "--\n\n"
    "Create a payment order.\n\n"
    "pay_mode:\n"
    "  - \"split\"  (default): royalty split, requires recipient_account and\n"
    "    the merchant's Alipay app must have the royalty-split API enabled.\n"
    "  - \"direct\": direct payment, funds go straight to the merchant account.\n"
    "    recipient_account is ignored, no royalty-split permission needed.";
inline constexpr const char* query_order_doc = "query_order($self, order_id)\n--\n\nQuery order status.";
inline constexpr const char* verify_callback_doc =
    "verify_callback($self, body, signature)\n--\n\nVerify a callback from Vemrat.";

inline constexpr std::string_view payment_result_repr = "PaymentResult(order_id='{}', pay_url='{}')";
inline constexpr std::string_view order_status_repr =
    "OrderStatus(order_id='{}', pay_status={}, settle_status={}, refund_status={})";

inline constexpr std::string_view no_constructor = "No constructor defined for {}";
inline constexpr std::string_view unknown_type_name = "<unknown>";

// --- Argument binding and conversion ---------------------------------------------------------------

inline constexpr std::string_view full_name = "{}.{}()";
inline constexpr std::string_view too_many_positional = "{} takes {} positional arguments but {} {} given";
inline constexpr std::string_view too_many_positional_range =
    "{} takes from {} to {} positional arguments but {} {} given";
inline constexpr std::string_view unexpected_keyword = "{} got an unexpected keyword argument '{}'";
inline constexpr std::string_view multiple_values = "{} got multiple values for argument '{}'";
inline constexpr std::string_view missing_required = "{} missing {} required positional {}: ";

inline constexpr std::string_view cannot_convert = "'{}' object cannot be converted to '{}'";
inline constexpr std::string_view argument_named = "argument '{}': {}";
inline constexpr std::string_view text_kind = "PyString";
inline constexpr std::string_view list_kind = "PyList";
inline constexpr std::string_view sequence_kind = "Sequence";
inline constexpr std::string_view str_as_bytes = "Can't extract `str` to `Vec`";
inline constexpr std::string_view byte_out_of_range = "out of range integral type conversion attempted";

inline constexpr std::string_view no_exception_set = "attempted to fetch exception but none was set";
inline constexpr std::string_view not_an_exception_class = "exceptions must derive from BaseException";

// --- Internal failures (PanicException) ------------------------------------------------------------

inline constexpr const char* panic_type = "vemrat_pay_runtime.PanicException";
inline constexpr const char* panic_doc =
    "An internal failure of vemrat_pay: a broken assumption of the module itself, not an error of the "
    "caller. It derives from BaseException so that `except Exception` does not swallow it.";
inline constexpr std::string_view panic_class_unavailable = "Failed to initialize new exception type.";
inline constexpr std::string_view all_not_appended = "could not append __name__ to __all__";
inline constexpr std::string_view type_not_created = "failed to create type object for {}";
inline constexpr std::string_view no_tp_free = "PyBaseObject_Type should have tp_free";
inline constexpr std::string_view clock_before_epoch = "system clock is set before the Unix epoch";

// --- The key file ----------------------------------------------------------------------------------

inline constexpr std::string_view cannot_read_key_file =
    "Cannot read auth_key.py at {}: {}. Please pass community_key and sponsor_key manually.";
inline constexpr std::string_view community_key_not_found = "COMMUNITY_KEY not found in auth_key.py";
inline constexpr std::string_view sponsor_key_not_found = "SPONSOR_KEY not found in auth_key.py";
inline constexpr std::string_view os_error = "{} (os error {})";
inline constexpr std::string_view not_utf8 = "stream did not contain valid UTF-8";
inline constexpr std::string_view nul_in_path = "file name contained a NUL byte";
inline constexpr std::string_view not_a_regular_file = "it is {}, not a regular file";

// --- Service answers and callbacks -----------------------------------------------------------------

inline constexpr std::string_view http_status = "HTTP {}: {}";
inline constexpr std::string_view invalid_json = "Invalid JSON: {} | body: {}";
inline constexpr std::string_view missing_data = "Missing 'data' in response: {}";
inline constexpr std::string_view json_error = "{} at line {} column {}";
inline constexpr std::string_view invalid_signature = "Invalid callback signature";
inline constexpr std::string_view invalid_callback_json = "Invalid JSON body: {}";

}  // namespace vemrat::texts
