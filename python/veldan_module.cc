// The Python module veldan: hypergraphs held in numpy arrays, the library's
// Partition and Evaluate, and the program's file reader.
//
//   import veldan
//   h = veldan.read_hgr("examples/circuit1.hgr")
//   r = veldan.partition(h, 4, epsilon=0.03, seed=1)
//   r.parts, r.cut, r.km1, r.imbalance
//
// A Hypergraph owns read-only copies of its arrays, so that a partitioning
// may read them with the interpreter lock released.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <strings.h>
#include <vector>

#include "api/options.h"
#include "veldan/veldan.h"

namespace py = pybind11;

namespace {

// Python's veldan.Error, a RuntimeError with a status attribute.
PyObject* g_error = nullptr;

const char* StatusName(veldan::Status s) {
  switch (s) {
    case veldan::Status::Ok: return "ok";
    case veldan::Status::InvalidHypergraph: return "invalid_hypergraph";
    case veldan::Status::InvalidOptions: return "invalid_options";
    case veldan::Status::OutOfMemory: return "out_of_memory";
    case veldan::Status::InternalError: return "internal_error";
  }
  return "internal_error";
}

[[noreturn]] void Raise(veldan::Status status, const std::string& message) {
  throw veldan::Error(status, message);
}

// ---------------------------------------------------------------------------
// Hypergraph

template <class T>
py::array_t<T> ReadOnly(py::array_t<T> a) {
  a.attr("flags").attr("writeable") = false;
  return a;
}

template <class T>
py::array_t<T> ArrayFrom(const T* data, std::size_t n) {
  py::array_t<T> out(n);
  if (n > 0) std::memcpy(out.mutable_data(), data, n * sizeof(T));
  return out;
}

// An owned, read-only, contiguous copy of any array-like as T, flattened;
// with cols above 0 it may also have two dimensions of cols columns.
template <class T>
py::array_t<T> OwnedCopy(const py::object& obj, const char* name, std::int64_t cols = 0) {
  using In = py::array_t<T, py::array::c_style | py::array::forcecast>;
  if constexpr (std::is_integral_v<T>) {
    // Cell and net numbers and parts are whole numbers: an array of
    // floating-point numbers is taken only when every value is one, never
    // cut to one.
    py::array any;
    try {
      any = py::array::ensure(obj);
    } catch (const py::error_already_set&) {
    }
    if (any && any.dtype().kind() == 'c')
      throw py::type_error(std::string(name) + " holds complex numbers, not whole numbers");
    if (any && any.dtype().kind() == 'f') {
      using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;
      const Doubles d = Doubles::ensure(any);
      if (!d) throw py::type_error(std::string(name) + " is not an array of numbers");
      const double* v = d.data();
      for (py::ssize_t i = 0; i < d.size(); i++)
        if (!(std::trunc(v[i]) == v[i] && std::fabs(v[i]) < 9.2e18))
          throw py::value_error(std::string(name) + " holds " +
                                py::repr(py::float_(v[i])).cast<std::string>() + " at index " +
                                std::to_string(i) + ", not a whole number");
    }
  }
  In in;
  try {
    in = In::ensure(obj);
  } catch (const py::error_already_set&) {
  }
  if (!in) throw py::type_error(std::string(name) + " is not an array of numbers");
  if (in.ndim() == 2 && cols > 0 && in.shape(1) != cols)
    throw py::value_error(std::string(name) + " has " + std::to_string(in.shape(1)) +
                          " columns, not " + std::to_string(cols));
  if (in.ndim() != 1 && !(in.ndim() == 2 && cols > 0))
    throw py::value_error(std::string(name) + " has " + std::to_string(in.ndim()) +
                          " dimensions, not 1");
  return ReadOnly(ArrayFrom(in.data(), static_cast<std::size_t>(in.size())));
}

struct PyHypergraph {
  PyHypergraph() = default;
  std::int64_t nvtxs = 0;
  std::int64_t ncon = 1;
  py::array_t<std::int64_t> netptr, netind;
  std::optional<py::array_t<float>> netwgt, cellwgt;
  std::optional<py::array_t<std::int64_t>> fixed;

  PyHypergraph(std::int64_t nv, const py::object& ptr, const py::object& ind,
               const py::object& nw, const py::object& cw, std::int64_t nc,
               const py::object& fx)
      : nvtxs(nv), ncon(nc), netptr(OwnedCopy<std::int64_t>(ptr, "netptr")),
        netind(OwnedCopy<std::int64_t>(ind, "netind")) {
    if (!nw.is_none()) netwgt = OwnedCopy<float>(nw, "netwgt");
    if (!cw.is_none()) cellwgt = OwnedCopy<float>(cw, "cellwgt", nc);
    if (!fx.is_none()) fixed = OwnedCopy<std::int64_t>(fx, "fixed");
  }

  std::int64_t nnets() const { return netptr.size() > 0 ? netptr.size() - 1 : 0; }

  // A view for the library; valid while this object lives.
  veldan::Hypergraph View() const {
    veldan::Hypergraph h;
    h.nvtxs = nvtxs;
    h.ncon = ncon;
    h.netptr = {netptr.data(), static_cast<std::size_t>(netptr.size())};
    h.netind = {netind.data(), static_cast<std::size_t>(netind.size())};
    if (netwgt) h.netwgt = {netwgt->data(), static_cast<std::size_t>(netwgt->size())};
    if (cellwgt) h.cellwgt = {cellwgt->data(), static_cast<std::size_t>(cellwgt->size())};
    if (fixed) h.fixed = {fixed->data(), static_cast<std::size_t>(fixed->size())};
    return h;
  }
};

PyHypergraph ReadHgr(const std::string& path) {
  veldan::HypergraphData d;
  {
    py::gil_scoped_release release;
    d = veldan::ReadHypergraph(path);
  }
  PyHypergraph h;
  h.nvtxs = d.nvtxs;
  h.ncon = d.ncon;
  h.netptr = ReadOnly(ArrayFrom(d.netptr.data(), d.netptr.size()));
  h.netind = ReadOnly(ArrayFrom(d.netind.data(), d.netind.size()));
  if (!d.netwgt.empty()) h.netwgt = ReadOnly(ArrayFrom(d.netwgt.data(), d.netwgt.size()));
  if (!d.cellwgt.empty()) h.cellwgt = ReadOnly(ArrayFrom(d.cellwgt.data(), d.cellwgt.size()));
  return h;
}

// The first argument of partition and evaluate: a Hypergraph, or a tuple
// (nvtxs, netptr, netind) of an unweighted one.
PyHypergraph& AsHypergraph(const py::object& h, std::optional<PyHypergraph>& holder) {
  if (py::isinstance<PyHypergraph>(h)) return h.cast<PyHypergraph&>();
  if (py::isinstance<py::tuple>(h) && py::len(h) == 3) {
    const py::tuple t = h.cast<py::tuple>();
    holder.emplace(t[0].cast<std::int64_t>(), t[1], t[2], py::none(), py::none(), 1, py::none());
    return *holder;
  }
  throw py::type_error("expected a veldan.Hypergraph or a tuple (nvtxs, netptr, netind)");
}

// ---------------------------------------------------------------------------
// Metrics and results

struct PyMetrics {
  double cut = 0.0, km1 = 0.0, soed = 0.0;
  std::vector<double> imbalances;
  py::array_t<double> part_weights;
  std::int64_t empty_parts = 0, fixed_violations = 0;

  PyMetrics(const veldan::Metrics& m, std::int64_t k, std::int64_t ncon)
      : cut(m.cut), km1(m.km1), soed(m.soed), imbalances(m.imbalance),
        part_weights({static_cast<py::ssize_t>(k), static_cast<py::ssize_t>(ncon)}),
        empty_parts(m.empty_parts), fixed_violations(m.fixed_violations) {
    std::copy(m.part_weights.begin(), m.part_weights.end(), part_weights.mutable_data());
  }
  double imbalance() const {
    return imbalances.empty() ? 0.0 : *std::max_element(imbalances.begin(), imbalances.end());
  }
};

struct PyResult : PyMetrics {
  py::array_t<std::int64_t> parts;
  std::int64_t seed = 0;
  bool balanced = true;
  std::string bound_obstacle;
  std::int64_t nruns = 0, nvcycles = 0;

  PyResult(const veldan::Result& r, std::int64_t k, std::int64_t ncon)
      : PyMetrics(r.metrics, k, ncon), parts(ArrayFrom(r.parts.data(), r.parts.size())),
        seed(r.seed), balanced(r.balanced), bound_obstacle(r.bound_obstacle), nruns(r.nruns),
        nvcycles(r.nvcycles) {}
};

// ---------------------------------------------------------------------------
// Options

// The code of a keyword option's value, from the names of its row.
int KeywordArgument(const veldan::OptionRow& row, const std::string& name,
                    const py::handle& value) {
  if (!py::isinstance<py::str>(value)) throw py::type_error(name + " must be a str");
  const std::string text = value.cast<std::string>();
  const int code = veldan::SchemeCode(row.keywords, text.c_str());
  if (code < 0) {
    std::string known;
    for (const veldan::SchemeName& n : row.keywords)
      known += (known.empty() ? "" : ", ") + std::string(n.name);
    Raise(veldan::Status::InvalidOptions, name + " is \"" + text + "\", not one of " + known);
  }
  return code;
}

// The value of one keyword argument as its option row takes it.
veldan::OptionValue OptionArgument(const veldan::OptionRow& row, const std::string& name,
                                   const py::handle& value) {
  veldan::OptionValue v;
  switch (row.kind) {
    case veldan::OptionKind::Keyword:
      v.i = KeywordArgument(row, name, value);
      break;
    case veldan::OptionKind::Integer:
      if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
        throw py::type_error(name + " must be an int");
      v.i = value.cast<std::int64_t>();
      break;
    case veldan::OptionKind::Real:
      v.d = value.cast<double>();
      break;
    case veldan::OptionKind::Flag:
      v.i = value.cast<bool>() ? 1 : 0;
      break;
    case veldan::OptionKind::Program:
      break;
  }
  return v;
}

PyResult Partition(const py::object& hobj, std::int64_t k, double epsilon,
                   const py::kwargs& options) {
  std::optional<PyHypergraph> holder;
  const PyHypergraph& ph = AsHypergraph(hobj, holder);
  // A preset's settings first; the other keywords override them.
  veldan::Options o;
  if (options.contains("preset") && !options["preset"].is_none()) {
    const veldan::OptionRow* row = veldan::FindOption("preset", true);
    o = veldan::PresetOptions(
        static_cast<veldan::Preset>(KeywordArgument(*row, "preset", options["preset"])));
  }
  o.k = k;
  o.epsilon = epsilon;
  // Every other keyword is an option of the table, under its key; None
  // leaves its default. ufactor, when given, replaces epsilon.
  py::object fixed = py::none();
  py::object initial = py::none();
  for (const auto& item : options) {
    const std::string name = py::str(item.first);
    if (name == "fixed") {
      fixed = py::reinterpret_borrow<py::object>(item.second);
      continue;
    }
    if (name == "part_weights") {
      // Any sequence or array of numbers, k * ncon of them (or (k, ncon)).
      if (!item.second.is_none()) {
        const auto w = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(
            item.second);
        if (!w) throw py::type_error("part_weights must be an array of numbers");
        o.part_weights.assign(w.data(), w.data() + w.size());
      }
      continue;
    }
    if (name == "initial") {
      initial = py::reinterpret_borrow<py::object>(item.second);
      continue;
    }
    if (name == "preset") continue;
    const veldan::OptionRow* row = veldan::FindOption(name, false);
    if (row == nullptr || row->set == nullptr || name == "k" || name == "epsilon")
      throw py::type_error("partition() got an unexpected keyword argument '" + name + "'");
    if (item.second.is_none()) continue;
    row->set(o, OptionArgument(*row, name, item.second));
    if (name == "ufactor") o.epsilon = 0.0;
  }

  veldan::Hypergraph h = ph.View();
  py::array_t<std::int64_t> fixedcopy;
  if (!fixed.is_none()) {
    fixedcopy = OwnedCopy<std::int64_t>(fixed, "fixed");
    h.fixed = {fixedcopy.data(), static_cast<std::size_t>(fixedcopy.size())};
  }
  if (!initial.is_none()) {
    const py::array_t<std::int64_t> init = OwnedCopy<std::int64_t>(initial, "initial");
    o.initial.assign(init.data(), init.data() + init.size());
  }
  veldan::Result r;
  {
    py::gil_scoped_release release;
    r = veldan::Partition(h, o);
  }
  return PyResult(r, k, ph.ncon);
}

PyMetrics Evaluate(const py::object& hobj, const py::object& parts, std::optional<std::int64_t> k) {
  std::optional<PyHypergraph> holder;
  const PyHypergraph& ph = AsHypergraph(hobj, holder);
  const py::array_t<std::int64_t> p = OwnedCopy<std::int64_t>(parts, "parts");
  const std::span<const std::int64_t> view(p.data(), static_cast<std::size_t>(p.size()));
  const std::int64_t nparts =
      k ? *k : (view.empty() ? 1 : *std::max_element(view.begin(), view.end()) + 1);
  const veldan::Hypergraph h = ph.View();
  veldan::Metrics m;
  {
    py::gil_scoped_release release;
    m = veldan::Evaluate(h, view, nparts);
  }
  return PyMetrics(m, nparts, ph.ncon);
}

std::string MetricsRepr(const PyMetrics& m) {
  return "cut=" + py::repr(py::float_(m.cut)).cast<std::string>() +
         ", km1=" + py::repr(py::float_(m.km1)).cast<std::string>() +
         ", soed=" + py::repr(py::float_(m.soed)).cast<std::string>() +
         ", imbalance=" + py::repr(py::float_(m.imbalance())).cast<std::string>() +
         ", empty_parts=" + std::to_string(m.empty_parts);
}

}  // namespace

PYBIND11_MODULE(veldan, m) {
  m.doc() = "Multilevel hypergraph partitioning.";
  m.attr("__version__") = veldan::Version();

  static py::exception<veldan::Error> error(m, "Error", PyExc_RuntimeError);
  g_error = error.ptr();
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const veldan::Error& e) {
      // A message may quote bytes of a file that are not UTF-8.
      const std::string text = e.what();
      py::object message = py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(
          text.data(), static_cast<py::ssize_t>(text.size()), "backslashreplace"));
      if (!message) {
        PyErr_Clear();
        message = py::str("(the message could not be decoded)");
      }
      py::object exc = py::reinterpret_borrow<py::object>(g_error)(message);
      exc.attr("status") = StatusName(e.status());
      PyErr_SetObject(g_error, exc.ptr());
    }
  });

  py::class_<PyHypergraph>(m, "Hypergraph",
                           "A hypergraph: the pins of net e are "
                           "netind[netptr[e]:netptr[e + 1]], cells numbered from 0.")
      .def(py::init<std::int64_t, py::object, py::object, py::object, py::object, std::int64_t,
                    py::object>(),
           py::arg("nvtxs"), py::arg("netptr"), py::arg("netind"), py::arg("netwgt") = py::none(),
           py::arg("cellwgt") = py::none(), py::arg("ncon") = 1, py::arg("fixed") = py::none(),
           "Copies the arrays as int64 (netptr, netind, fixed) and float32 (netwgt, cellwgt: "
           "nvtxs * ncon weights, cell by cell, or an (nvtxs, ncon) array). fixed: -1 for a "
           "free cell, else its part.")
      .def_readonly("nvtxs", &PyHypergraph::nvtxs)
      .def_property_readonly("nnets", &PyHypergraph::nnets)
      .def_readonly("ncon", &PyHypergraph::ncon)
      .def_readonly("netptr", &PyHypergraph::netptr)
      .def_readonly("netind", &PyHypergraph::netind)
      .def_readonly("netwgt", &PyHypergraph::netwgt)
      .def_readonly("cellwgt", &PyHypergraph::cellwgt)
      .def_readonly("fixed", &PyHypergraph::fixed)
      .def("__repr__", [](const PyHypergraph& h) {
        return "veldan.Hypergraph(nvtxs=" + std::to_string(h.nvtxs) +
               ", nnets=" + std::to_string(h.nnets()) + ", ncon=" + std::to_string(h.ncon) + ")";
      });

  py::class_<PyMetrics>(m, "Metrics", "Measures of a partition.")
      .def_readonly("cut", &PyMetrics::cut, "weight of the nets spanning two parts or more")
      .def_readonly("km1", &PyMetrics::km1, "sum over nets of (parts spanned - 1) x weight")
      .def_readonly("soed", &PyMetrics::soed, "sum over cut nets of parts spanned x weight")
      .def_property_readonly("imbalance", &PyMetrics::imbalance,
                             "the largest of imbalances")
      .def_readonly("imbalances", &PyMetrics::imbalances,
                    "per weight: heaviest part / average part - 1")
      .def_readonly("part_weights", &PyMetrics::part_weights, "shape (k, ncon)")
      .def_readonly("empty_parts", &PyMetrics::empty_parts)
      .def_readonly("fixed_violations", &PyMetrics::fixed_violations)
      .def("__repr__",
           [](const PyMetrics& x) { return "veldan.Metrics(" + MetricsRepr(x) + ")"; });

  py::class_<PyResult, PyMetrics>(m, "Result", "A partition and its measures.")
      .def_readonly("parts", &PyResult::parts, "the part of every cell")
      .def_readonly("seed", &PyResult::seed, "the seed used; passing it again repeats the call")
      .def_readonly("balanced", &PyResult::balanced,
                    "under epsilon: whether every part of every weight kept the bound")
      .def_readonly("nruns", &PyResult::nruns,
                    "the runs made per bisection (or k-way partitioning): nruns, or under a "
                    "time budget as many as it allowed")
      .def_readonly("nvcycles", &PyResult::nvcycles, "the V-cycles made likewise")
      .def_readonly("bound_obstacle", &PyResult::bound_obstacle,
                    "when not balanced and no partition could be: why (else empty)")
      .def("__repr__", [](const PyResult& x) {
        return "veldan.Result(" + MetricsRepr(x) + ", seed=" + std::to_string(x.seed) +
               ", balanced=" + (x.balanced ? "True" : "False") + ")";
      });

  m.def("read_hgr", &ReadHgr, py::arg("path"),
        "Reads a hypergraph file (hgr, or Matrix Market as a row-net hypergraph). Raises "
        "veldan.Error with the reader's message when the file is missing or malformed.");

  m.def("partition", &Partition, py::arg("h"), py::arg("k"), py::arg("epsilon") = 0.03,
        "Partitions h (a Hypergraph, or a tuple (nvtxs, netptr, netind)) into k parts. "
        "Keyword options, with the library's defaults: scheme ('rb' or 'kway'), seed (-1: "
        "drawn), nruns (10), nvcycles (1), objective ('cut', 'soed' or 'km1'), ufactor (when given, "
        "replaces epsilon), threads (0: every core), ctype, rtype, cmaxnet (50), rmaxnet (50), "
        "kwayrefine, reconstruct, dbglvl (0); fixed, when given, replaces h.fixed; "
        "part_weights, the target fraction of every part (k * ncon numbers summing to 1 per "
        "weight; default an even split); initial, an array of nvtxs parts, is improved "
        "(runs from it, V-cycles of the best) instead of partitioning from scratch; preset "
        "('fast', 'default' or 'quality'), whose settings the other keywords override; time "
        "(seconds of wall-clock time: runs start while it lasts, Result.nruns and "
        "Result.nvcycles tell how many ran). Returns a Result; raises veldan.Error.");

  m.def("evaluate", &Evaluate, py::arg("h"), py::arg("parts"), py::arg("k") = py::none(),
        "Measures a partition of h into k parts (by default the largest part + 1).");
}
